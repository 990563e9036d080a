#include "framework/tray_icon.h"

namespace {

UINT TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

}  // namespace

bool CTrayIcon::Add(HWND owner, UINT id, UINT callbackMessage, HICON icon, const wchar_t* tip) {
    if (shown_ && record_.hWnd == owner && record_.uID == id) return true;
    record_ = NOTIFYICONDATAW{};
    record_.cbSize = NOTIFYICONDATAW_V2_SIZE;
    record_.hWnd = owner;
    record_.uID = id;
    record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record_.uCallbackMessage = callbackMessage;
    record_.hIcon = icon;
    lstrcpynW(record_.szTip, tip ? tip : L"", ARRAYSIZE(record_.szTip));
    wanted_ = true;
    shown_ = Shell_NotifyIconW(NIM_ADD, &record_) != FALSE;
    return shown_;
}

void CTrayIcon::Remove() {
    if (shown_) Shell_NotifyIconW(NIM_DELETE, &record_);
    wanted_ = false;
    shown_ = false;
}

bool CTrayIcon::OnTaskbarCreated(UINT message) {
    if (message == 0 || message != TaskbarCreatedMessage()) return false;
    // The new shell knows none of the old icons.
    if (wanted_) shown_ = Shell_NotifyIconW(NIM_ADD, &record_) != FALSE;
    return true;
}
