#include "test_support.h"

#include <stdlib.h>
#include <string.h>

#include <shellapi.h>

#include "framework/paths.h"

namespace testing_support {

std::wstring FixturePath(const std::wstring& name) {
    const char* root = getenv("LAUNCHER_FIXTURES");
    std::wstring path = L"Z:";
    path += WideFromUtf8(root ? root : "");
    path += L"/";
    path += name;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
            got = 0;
        bytes.resize(got);
    }
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const void* data, size_t length) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = WriteFile(file, data, static_cast<DWORD>(length), &put, nullptr) && put == length;
    CloseHandle(file);
    return ok;
}

static void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((dir + L"*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = dir + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full + L"\\");
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

TempDir::TempDir() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    for (;;) {
        wchar_t name[64];
        wsprintfW(name, L"lt%lu_%ld\\", GetCurrentProcessId(), InterlockedIncrement(&counter));
        path_ = std::wstring(base) + name;
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
    }
}

TempDir::~TempDir() { RemoveTree(path_); }

int HttpServerPort() {
    const char* port = getenv("LAUNCHER_HTTP_PORT");
    return port ? atoi(port) : 0;
}

std::wstring HttpServerRoot() {
    const char* root = getenv("LAUNCHER_HTTP_ROOT");
    std::wstring path = L"Z:" + WideFromUtf8(root ? root : "") + L"\\";
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

bool PublishOnHttpServer(const std::string& name, const std::string& content) {
    std::wstring path = HttpServerRoot() + WideFromUtf8(name);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    wchar_t directory[MAX_PATH];
    if (DirectoryOfPath(path.c_str(), directory, MAX_PATH) == 0 || !CreateDirectoryPath(directory)) return false;
    return WriteFileBytes(path, content.data(), content.size());
}

}  // namespace testing_support

namespace testing_support {

MessageBoxCatcher::MessageBoxCatcher(DWORD processId, int answer)
    : processId_(processId ? processId : GetCurrentProcessId()), answer_(answer) {
    InitializeCriticalSection(&lock_);
    thread_ = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
}

MessageBoxCatcher::~MessageBoxCatcher() {
    InterlockedExchange(&stop_, 1);
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    DeleteCriticalSection(&lock_);
}

std::vector<CaughtBox> MessageBoxCatcher::boxes() const {
    EnterCriticalSection(&lock_);
    std::vector<CaughtBox> copy = boxes_;
    LeaveCriticalSection(&lock_);
    return copy;
}

namespace {
struct FindBox {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindBoxOf(HWND window, LPARAM param) {
    FindBox* find = reinterpret_cast<FindBox*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = L"";
    GetClassNameW(window, className, 16);
    if (owner == find->processId && lstrcmpW(className, L"#32770") == 0 && IsWindowVisible(window) &&
        GetDlgItem(window, 0xFFFF)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

DWORD WINAPI MessageBoxCatcher::Watch(void* param) {
    MessageBoxCatcher* self = static_cast<MessageBoxCatcher*>(param);
    std::vector<HWND> answered;
    while (!InterlockedCompareExchange(&self->stop_, 0, 0)) {
        FindBox find = {self->processId_, nullptr};
        EnumWindows(FindBoxOf, reinterpret_cast<LPARAM>(&find));
        if (find.found) {
            bool seen = false;
            for (HWND w : answered) seen = seen || w == find.found;
            if (!seen) {
                CaughtBox box;
                wchar_t text[1024] = L"";
                GetWindowTextW(find.found, text, 1024);
                box.caption = text;
                text[0] = L'\0';
                GetDlgItemTextW(find.found, 0xFFFF, text, 1024);
                box.text = text;
                EnterCriticalSection(&self->lock_);
                self->boxes_.push_back(box);
                LeaveCriticalSection(&self->lock_);
                answered.push_back(find.found);
            }
            PostMessageW(find.found, WM_COMMAND, static_cast<WPARAM>(self->answer_), 0);
        }
        Sleep(50);
    }
    return 0;
}

namespace {
thread_local MessageBoxStyles* t_styleRecorder = nullptr;
}  // namespace

MessageBoxStyles::MessageBoxStyles() {
    t_styleRecorder = this;
    hook_ = SetWindowsHookExW(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
}

MessageBoxStyles::~MessageBoxStyles() {
    if (hook_) UnhookWindowsHookEx(hook_);
    t_styleRecorder = nullptr;
}

// A message box's dialog gets the MSGBOXPARAMSW it was made from with WM_INITDIALOG.
LRESULT CALLBACK MessageBoxStyles::Hook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && t_styleRecorder && call->message == WM_INITDIALOG && call->lParam &&
        GetDlgItem(call->hwnd, 0xFFFF)) {
        wchar_t className[16] = L"";
        GetClassNameW(call->hwnd, className, 16);
        if (lstrcmpW(className, L"#32770") == 0)
            t_styleRecorder->styles_.push_back(reinterpret_cast<const MSGBOXPARAMSW*>(call->lParam)->dwStyle);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

RunResult RunAndCatch(const std::wstring& exe, const std::wstring& arguments,
                      const std::wstring& directory, DWORD timeoutMs) {
    RunResult result;
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &process))
        return result;
    {
        MessageBoxCatcher catcher(process.dwProcessId);
        if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
            result.exited = true;
            GetExitCodeProcess(process.hProcess, &result.exitCode);
        } else {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
        }
        result.boxes = catcher.boxes();
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

bool CopyFileTo(const std::wstring& from, const std::wstring& to) {
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

namespace {
NOTIFYICONDATAW TrayIconRecord(HWND window, UINT id) {
    NOTIFYICONDATAW record = {};
    record.cbSize = sizeof record;
    record.hWnd = window;
    record.uID = id;
    return record;
}
}  // namespace

bool ShellHasTrayIcon(HWND window, UINT id) {
    NOTIFYICONDATAW record = TrayIconRecord(window, id);
    return Shell_NotifyIconW(NIM_MODIFY, &record) != FALSE;
}

void RestartShellFor(HWND window, UINT id) {
    NOTIFYICONDATAW record = TrayIconRecord(window, id);
    Shell_NotifyIconW(NIM_DELETE, &record);
    SendMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
}

HeldKey::HeldKey(BYTE key) {
    GetKeyboardState(saved_);
    BYTE held[256];
    memcpy(held, saved_, sizeof held);
    held[key] = 0x80;
    SetKeyboardState(held);
}

HeldKey::~HeldKey() { SetKeyboardState(saved_); }

}  // namespace testing_support
