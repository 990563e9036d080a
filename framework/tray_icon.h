// A window's icon in the notification area. The record the shell gets ends after
// dwInfoFlags (NOTIFYICONDATAW_V2_SIZE: 936 bytes in the 32-bit build). An icon that was
// added is added again when the shell starts anew (Explorer restarted) and broadcasts
// "TaskbarCreated"; until then a window hidden in the tray could not be reached.
#pragma once

#include <windows.h>
#include <shellapi.h>

class CTrayIcon {
public:
    CTrayIcon() = default;
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // Adds the icon; adding it while it is there changes nothing. True when the shell
    // shows it. The icon is wanted from now on, even when the shell is not there yet.
    bool Add(HWND owner, UINT id, UINT callbackMessage, HICON icon, const wchar_t* tip);
    // Removes the icon; harmless when none was added.
    void Remove();
    // For the owner's window procedure: true when `message` is the shell's TaskbarCreated,
    // after adding a wanted icon again.
    bool OnTaskbarCreated(UINT message);

    bool shown() const { return shown_; }
    const NOTIFYICONDATAW& record() const { return record_; }

private:
    NOTIFYICONDATAW record_ = {};
    bool wanted_ = false;
    bool shown_ = false;
};
