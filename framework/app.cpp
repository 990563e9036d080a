#include "framework/app.h"

#include <winsock2.h>
#include <stdlib.h>

namespace {
CWinApp* g_app = nullptr;
bool g_socketsStarted = false;

void StopSockets() {
    if (g_socketsStarted) WSACleanup();
}
}  // namespace

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

void CWinApp::Attach(HINSTANCE instance, const wchar_t* commandLine, int showCommand) {
    instance_ = instance;
    commandLine_ = commandLine ? commandLine : L"";
    showCommand_ = showCommand;
}

int CWinApp::Run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return ExitInstance();
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() { return g_app ? g_app->instance() : GetModuleHandleW(nullptr); }

BOOL AfxSocketInit() {
    if (g_socketsStarted) return TRUE;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return FALSE;
    g_socketsStarted = true;
    atexit(StopSockets);
    return TRUE;
}

void AfxGetAppName(wchar_t* name, DWORD size) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        lstrcpynW(name, L"Launcher", size);
        return;
    }
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') base = p + 1;
    lstrcpynW(name, base, size);
    wchar_t* dot = nullptr;
    for (wchar_t* p = name; *p; ++p)
        if (*p == L'.') dot = p;
    if (dot) *dot = L'\0';
}

int AfxMessageBox(const wchar_t* text, UINT type) {
    wchar_t caption[MAX_PATH];
    AfxGetAppName(caption, MAX_PATH);
    return MessageBoxW(GetActiveWindow(), text, caption, type);
}

int AfxMessageBox(UINT stringId, UINT type) {
    wchar_t text[1024] = L"";
    LoadStringW(AfxGetInstanceHandle(), stringId, text, 1024);
    return AfxMessageBox(text, type);
}
