// The game window's commands: skin buttons, the settings menu, closing and restarting
// with a question, the tray icon, the boss key and the taskbar flashing.
#include "game/game_dialog.h"

#include "app/launcher_host.h"
#include "framework/app.h"
#include "framework/text.h"

namespace {

// A popup menu destroyed with this object.
class CPopupMenu {
public:
    CPopupMenu() : menu_(CreatePopupMenu()) {}
    explicit CPopupMenu(HMENU menu) : menu_(menu) {}
    ~CPopupMenu() {
        if (menu_) DestroyMenu(menu_);
    }
    CPopupMenu(const CPopupMenu&) = delete;
    CPopupMenu& operator=(const CPopupMenu&) = delete;
    HMENU get() const { return menu_; }

private:
    HMENU menu_;
};

}  // namespace

bool CGameDialog::OnCommand(WORD id, WORD, HWND) {
    switch (id) {
    case kButtonIdBase + kButtonClose:
        CloseWithConfirmation();
        return true;
    case kButtonIdBase + kButtonMaximize:
        MaximizeToWorkArea();
        return true;
    case kButtonIdBase + kButtonMinimize:
        ShowWindow(SW_MINIMIZE);
        minimisedByButton_ = true;
        return true;
    case kButtonIdBase + kButtonHide:
        HideToTray();
        return true;
    case kButtonIdBase + kButtonRestore:
        RestoreNormalSize();
        return true;
    case kButtonIdBase + kButtonSettings:
        ShowSettingsMenu();
        return true;
    case kMenuIdBase + kMenuRestart:
        RestartWithConfirmation();
        return true;
    case kMenuIdBase + kMenuClearCache:
        services_.AskAndClearBrowserCache(m_hWnd, host_.config().settings());
        return true;
    case kMenuIdBase + kMenuFullScreen:
        ToggleFullScreen();
        return true;
    case kMenuIdBase + kMenuAutoStart:
        autoStart_ = services_.ToggleAutoStart(autoStart_);
        return true;
    default:
        return false;
    }
}

// No way out of the window skips the question: Enter ends up here as well.
void CGameDialog::OnOK() { CloseWithConfirmation(); }

void CGameDialog::OnCancel() { CloseWithConfirmation(); }

int CGameDialog::AskUser(const wchar_t* text, const wchar_t* caption, UINT flags) {
    return MessageBoxW(m_hWnd, text, caption, flags);
}

void CGameDialog::ShowMessage(const wchar_t* text) { AfxMessageBox(text, MB_OK); }

void CGameDialog::StartNewInstance() { services_.StartNewInstance(); }

std::wstring CGameDialog::ConfirmationCaption() const {
    const LauncherSettings& settings = host_.config().settings();
    if (settings.initname[0]) return ToWide(settings.initname, true);
    wchar_t name[MAX_PATH];
    AfxGetAppName(name, MAX_PATH);
    return name;
}

void CGameDialog::CloseWithConfirmation() {
    const std::wstring caption = ConfirmationCaption();
    const std::wstring text = ToWide(host_.config().settings().closeMsg, true);
    if (AskUser(text.c_str(), caption.c_str(), kQuestionBoxFlags) != IDOK) return;
    if (gameControl_ && gameControl_->GetControlUnknown()) {
        try {
            if (gameControl_->IsPlaying()) gameControl_->Stop();
        } catch (const CDispatchException&) {
            // A control that cannot be stopped goes with the window.
        }
    }
    StartNewInstance();
    CDialog::OnOK();
}

void CGameDialog::RestartWithConfirmation() {
    const std::wstring caption = ConfirmationCaption();
    const std::wstring text = ToWide(host_.config().settings().closeMsg, true);
    if (AskUser(text.c_str(), caption.c_str(), kQuestionBoxFlags) != IDOK) return;
    StartNewInstance();
    CDialog::OnOK();
}

HMENU CGameDialog::BuildSettingsMenu() const {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    const LauncherSettings& settings = host_.config().settings();
    for (const MenuEntry& entry : host_.config().menus()) {
        std::wstring text = ToWide(entry.title, true);
        UINT flags = MF_STRING;
        if (entry.type == kMenuVersion) text += ToWide(settings.version, true);
        if (entry.type == kMenuAutoStart) flags |= autoStart_ ? MF_CHECKED : MF_UNCHECKED;
        AppendMenuW(menu, flags, static_cast<UINT_PTR>(kMenuIdBase + entry.type), text.c_str());
    }
    return menu;
}

void CGameDialog::ShowSettingsMenu() {
    CGameButton* anchor = FindButtonOfType(kButtonSettings);
    if (!anchor) return;
    const RECT rect = anchor->GetWindowRect();
    CPopupMenu menu(BuildSettingsMenu());
    if (menu.get()) TrackPopupMenu(menu.get(), 0, rect.left, rect.bottom + 1, 0, m_hWnd, nullptr);
}

void CGameDialog::HideToTray() {
    // The window hides whether or not the shell shows the icon.
    trayIcon_.Add(m_hWnd, kTrayIconId, kTrayMessage, icon_, ToWide(host_.config().settings().notityTitle, true));
    ShowWindow(SW_HIDE);
    hiddenToTray_ = true;
}

void CGameDialog::ShowTrayMenu() {
    POINT cursor = {};
    GetCursorPos(&cursor);
    CPopupMenu menu;
    if (!menu.get()) return;
    AppendMenuW(menu.get(), MF_STRING, kTrayExitId, ToWide(host_.config().settings().notifyCloseTitle, true));
    // The menu closes when the user clicks elsewhere only if its owner is in front.
    SetForegroundWindow(m_hWnd);
    TrackPopupMenu(menu.get(), 0, cursor.x, cursor.y, 0, m_hWnd, nullptr);
    // Lets the menu close properly when it is opened the next time.
    PostMessage(WM_NULL);
}

LRESULT CGameDialog::OnTrayNotify(WPARAM iconId, LPARAM mouseMessage) {
    if (iconId != kTrayIconId) return 1;
    switch (mouseMessage) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
        hiddenToTray_ = !hiddenToTray_;
        ShowWindow(hiddenToTray_ ? SW_HIDE : SW_SHOW);
        break;
    case WM_RBUTTONUP:
        ShowTrayMenu();
        break;
    default:
        break;
    }
    return 0;
}

void CGameDialog::OnHotKey() {
    if (hiddenToTray_) {
        hiddenToTray_ = false;
        ShowWindow(SW_SHOW);
    } else {
        HideToTray();
    }
}

void CGameDialog::StartTaskbarFlashing() {
    if (minimisedByButton_) SetTimer(kFlashTimer, kFlashPeriodMs);
}

void CGameDialog::OnRestoreCommand() {
    minimisedByButton_ = false;
    hiddenToTray_ = false;
    KillTimer(kFlashTimer);
    FlashWindow(m_hWnd, FALSE);
}

void CGameDialog::OnDestroy() {
    layoutReady_ = false;
    if (hotKeyRegistered_) UnregisterHotKey(m_hWnd, kHotKeyId);
    hotKeyRegistered_ = false;
    trayIcon_.Remove();
    KillTimer(kFlashTimer);
    flashEvents_.Unadvise();
}

void CGameDialog::SetButtonAddress(int32_t buttonType, const char* address) {
    if (CGameButton* button = FindButtonOfType(buttonType)) button->SetLinkAddress(address);
}

void CGameDialog::ShowButton(int32_t buttonType) {
    if (CGameButton* button = FindButtonOfType(buttonType)) button->ShowWindow(SW_SHOWNORMAL);
}
