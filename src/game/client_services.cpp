#include "game/client_services.h"

// winsock2.h before iphlpapi.h and wininet.h keep the headers apart from winsock.h.
#include <winsock2.h>
#include <iphlpapi.h>
#include <shlobj.h>
#include <stdio.h>
#include <wininet.h>

#include <vector>

#include "framework/app.h"
#include "framework/handles.h"
#include "framework/text.h"

// The page most players reach; LAUNCHER_IP_PAGE names another (tests, the demo).
const wchar_t kDefaultIpPageAddress[] = L"http://www.ip138.com/ic.asp";

namespace {

const wchar_t kIpPageVariable[] = L"LAUNCHER_IP_PAGE";
const char kLoopbackAddress[] = "127.0.0.1";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kConfigIniName[] = L"config.ini";
const wchar_t kAutoStartSection[] = L"Setup";
const wchar_t kAutoStartKey[] = L"AutoBoot";
const wchar_t kAutoStartArgument[] = L" /autorun";

// The address page is small; a page that goes on beyond this is not one.
const size_t kMaxIpPageBytes = 64 * 1024;
// The whole request, from opening the page to its last byte: the game window waits for it.
const DWORD kIpPageDeadlineMs = 10000;

size_t LastSeparator(const std::wstring& path) {
    return path.find_last_of(L"\\/");
}

// The file name without its directory and without the part from its last dot on.
std::wstring ProgramName(const std::wstring& path) {
    const size_t separator = LastSeparator(path);
    std::wstring name = separator == std::wstring::npos ? path : path.substr(separator + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) {
        name.resize(dot);
    }
    return name;
}

std::wstring DesktopDirectory() {
    wchar_t desktop[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE)) {
        return std::wstring();
    }
    std::wstring directory = desktop;
    if (!directory.empty() && directory.back() != L'\\') {
        directory += L'\\';
    }
    return directory;
}

bool IsSuccessStatus(HINTERNET file) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(file, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
        return true;  // not an HTTP page
    }
    return status >= 200 && status < 300;
}

bool DeleteCacheEntry(const INTERNET_CACHE_ENTRY_INFOW* entry) {
    return entry->lpszSourceUrlName != nullptr && DeleteUrlCacheEntryW(entry->lpszSourceUrlName);
}

// A buffer for cache entry records of `bytes`, aligned for the record.
INTERNET_CACHE_ENTRY_INFOW* CacheEntryBuffer(std::vector<uint64_t>* storage, DWORD bytes) {
    storage->assign((bytes + sizeof(uint64_t) - 1) / sizeof(uint64_t) + 1, 0);
    return reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(storage->data());
}

// The text between the first "[" and the first "]" of a line, empty when "]" comes first.
bool FindBracketedAddress(const std::string& line, std::string* address) {
    const size_t open = line.find('[');
    const size_t close = line.find(']');
    if (open == std::string::npos || close == std::string::npos) {
        return false;
    }
    *address = close > open ? line.substr(open + 1, close - open - 1) : std::string();
    return true;
}

// kIpFound with the bracketed text of a line when it is an address; else kIpNotOnPage.
int32_t AcceptAddress(const std::string& found, std::string* address) {
    if (!IsDottedIpv4(found.data(), found.size())) {
        return kIpNotOnPage;
    }
    *address = found;
    return kIpFound;
}

// Milliseconds left until deadline (a GetTickCount64 value), 0 once it has passed.
DWORD RemainingMs(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

// Both time-outs of a handle: no single wait may outlast what is left of the deadline.
void SetTimeouts(HINTERNET handle, DWORD milliseconds) {
    InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &milliseconds, sizeof milliseconds);
    InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &milliseconds, sizeof milliseconds);
}

// config.ini for an executable directory that ends with a backslash; false when the path
// would not fit MAX_PATH. Only a directory written exactly as the desktop folder is the
// desktop: the comparison is character for character.
bool ConfigIniPath(const wchar_t* directory, const wchar_t* desktop, std::wstring* path) {
    std::wstring result;
    if (desktop[0] != L'\0' && wcscmp(directory, desktop) == 0) {
        result.assign(desktop, wcsnlen(desktop, 3));
    } else {
        result = directory;
    }
    result += kConfigIniName;
    if (result.size() >= MAX_PATH) {
        return false;
    }
    *path = result;
    return true;
}

}  // namespace

bool IsDottedIpv4(const char* text, size_t length) {
    size_t parts = 0;
    size_t i = 0;
    while (i < length) {
        uint32_t value = 0;
        size_t digits = 0;
        for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (++digits > 3) return false;
            value = value * 10 + static_cast<uint32_t>(text[i] - '0');
        }
        if (digits == 0 || value > 255 || ++parts > 4) return false;
        if (i == length) break;
        if (text[i] != '.' || ++i == length) return false;
    }
    return parts == 4;
}

std::string FormatMacAddress(const uint8_t address[6]) {
    char text[18];
    snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", address[0], address[1], address[2], address[3],
             address[4], address[5]);
    return text;
}

CClientServices::CClientServices() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        executablePath_.assign(path, length);
    }
    wchar_t page[1024];
    const DWORD pageLength = GetEnvironmentVariableW(kIpPageVariable, page, 1024);
    ipPageAddress_ = pageLength > 0 && pageLength < 1024 ? page : kDefaultIpPageAddress;
}

void CClientServices::SetExecutablePath(const wchar_t* path) {
    executablePath_ = wcslen(path) < MAX_PATH ? path : L"";
}

ClientInfo CClientServices::CollectClientInfo() const {
    uint8_t mac[6] = {};
    ULONG size = 0;
    if (GetAdaptersInfo(nullptr, &size) == ERROR_BUFFER_OVERFLOW && size > 0) {
        std::vector<uint64_t> storage((size + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
        IP_ADAPTER_INFO* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(storage.data());
        if (GetAdaptersInfo(adapters, &size) == NO_ERROR) {
            memcpy(mac, adapters->Address, sizeof mac);
        }
    }
    ClientInfo info;
    info.macAddress = FormatMacAddress(mac);
    if (GetExternalIp(&info.ipAddress) != kIpFound) {
        info.ipAddress = kLoopbackAddress;
    }
    return info;
}

int32_t CClientServices::GetExternalIp(std::string* address) const {
    const ULONGLONG deadline = GetTickCount64() + kIpPageDeadlineMs;
    CInternetHandle session(
        InternetOpenW(ProgramName(executablePath_).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (session.get() == nullptr) {
        return kIpPageUnreachable;
    }
    SetTimeouts(session.get(), kIpPageDeadlineMs);
    // The address must be today's, never a cached page.
    const DWORD flags = INTERNET_FLAG_TRANSFER_ASCII | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                        INTERNET_FLAG_NO_UI;
    CInternetHandle page(InternetOpenUrlW(session.get(), ipPageAddress_.c_str(), nullptr, 0, flags, 1));
    if (page.get() == nullptr || !IsSuccessStatus(page.get())) {
        return kIpPageUnreachable;
    }
    // A read waits for all the bytes it asks for, so each asks only for what has arrived;
    // a page that trickles in is cut off at the deadline.
    std::string line;
    size_t total = 0;
    char chunk[4096];
    for (;;) {
        const DWORD remaining = RemainingMs(deadline);
        if (remaining == 0) {
            return kIpPageUnreachable;
        }
        SetTimeouts(page.get(), remaining);
        DWORD available = 0;
        if (!InternetQueryDataAvailable(page.get(), &available, 0, 0)) {
            return kIpPageUnreachable;
        }
        if (available == 0 || total >= kMaxIpPageBytes) {
            break;
        }
        DWORD received = 0;
        if (!InternetReadFile(page.get(), chunk, available < sizeof chunk ? available : sizeof chunk, &received)) {
            return kIpPageUnreachable;
        }
        if (received == 0) {
            break;
        }
        total += received;
        for (DWORD i = 0; i < received; ++i) {
            if (chunk[i] != '\n') {
                line += chunk[i];
                continue;
            }
            std::string found;
            if (FindBracketedAddress(line, &found)) {
                return AcceptAddress(found, address);
            }
            line.clear();
        }
    }
    std::string found;
    return FindBracketedAddress(line, &found) ? AcceptAddress(found, address) : kIpNotOnPage;
}

bool CClientServices::StartNewInstance() const {
    if (executablePath_.empty()) {
        return false;
    }
    // Quoted, so that a path with blanks is neither searched piece by piece nor read by the
    // new launcher as an argument (which would make it start as if from auto-start).
    return StartDetached(executablePath_.c_str(), L"\"" + executablePath_ + L"\"", 0, SW_SHOWDEFAULT);
}

bool CClientServices::ConfigIniOfExecutable(std::wstring* path) const {
    const size_t separator = executablePath_.rfind(L'\\');
    if (separator == std::wstring::npos) {
        return false;
    }
    const std::wstring directory = executablePath_.substr(0, separator + 1);
    return ConfigIniPath(directory.c_str(), DesktopDirectory().c_str(), path);
}

bool CClientServices::ReadAutoStart() const {
    std::wstring ini;
    if (!ConfigIniOfExecutable(&ini)) {
        return false;
    }
    return static_cast<int>(GetPrivateProfileIntW(kAutoStartSection, kAutoStartKey, 0, ini.c_str())) > 0;
}

bool CClientServices::ToggleAutoStart(bool autoStart) const {
    std::wstring ini;
    if (!ConfigIniOfExecutable(&ini)) {
        return autoStart;
    }
    const std::wstring data = L"\"" + executablePath_ + L"\"" + kAutoStartArgument;
    if (data.size() >= MAX_PATH) {
        return autoStart;
    }
    const std::wstring name = ProgramName(executablePath_);
    const bool on = !autoStart;
    CRegKey run;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, run.Receive(), nullptr) ==
        ERROR_SUCCESS) {
        if (on) {
            RegSetValueExW(run.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        } else {
            RegDeleteValueW(run.get(), name.c_str());
        }
    }
    WritePrivateProfileStringW(kAutoStartSection, kAutoStartKey, on ? L"1" : L"0", ini.c_str());
    return on;
}

void CClientServices::AskAndClearBrowserCache(HWND owner, const LauncherSettings& settings) const {
    const std::wstring text = ToWide(settings.clearFlashMsg, true);
    const std::wstring caption = ToWide(settings.clearFlashTitle, true);
    if (MessageBoxW(owner, text.c_str(), caption.c_str(), kQuestionBoxFlags) != IDOK) {
        return;
    }
    ClearBrowserCache();
}

uint32_t CClientServices::ClearBrowserCache() {
    DWORD size = 0;
    const CUrlCacheFindHandle probe(FindFirstUrlCacheEntryW(nullptr, nullptr, &size));
    if (probe.valid()) {
        return 0;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return 0;
    }
    std::vector<uint64_t> storage;
    INTERNET_CACHE_ENTRY_INFOW* entry = CacheEntryBuffer(&storage, size);
    DWORD capacity = size;
    CUrlCacheFindHandle find(FindFirstUrlCacheEntryW(nullptr, entry, &size));
    if (!find.valid()) {
        return 0;
    }
    uint32_t deleted = DeleteCacheEntry(entry) ? 1 : 0;
    for (;;) {
        size = capacity;
        if (FindNextUrlCacheEntryW(find.get(), entry, &size)) {
            deleted += DeleteCacheEntry(entry) ? 1 : 0;
        } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > capacity) {
            entry = CacheEntryBuffer(&storage, size);
            capacity = size;
        } else {
            break;
        }
    }
    return deleted;
}
