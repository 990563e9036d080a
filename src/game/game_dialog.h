// CGameDialog: the window the game runs in. A borderless popup that draws its own frame,
// title and logo from the package's picture sheet, carries a row of skin buttons in its
// title band and is otherwise filled by the Flash control playing the game movie, which
// is decrypted from the cache in memory. Three states: maximised to the work area (the
// start), normal (framed, sizeable) and full screen.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "flash/shockwave_flash.h"
#include "framework/dialog.h"
#include "framework/gdi.h"
#include "framework/image.h"
#include "framework/tray_icon.h"
#include "game/client_services.h"
#include "game/game_frame.h"
#include "game/script_bridge.h"
#include "res/resource.h"
#include "ui/skin_button.h"

class LauncherHost;
struct GameButtonEntry;

// A skin button of the title band and the configuration entry it was made from.
class CGameButton : public CxSkinButton {
public:
    CGameButton(int32_t type, size_t entryIndex) : type_(type), entryIndex_(entryIndex) {}
    int32_t type() const { return type_; }
    size_t entryIndex() const { return entryIndex_; }

private:
    int32_t type_;
    size_t entryIndex_;
};

class CGameDialog : public CDialog, public IGameBridgeWindow, private IFlashEventHandler {
public:
    enum { IDD = IDD_GAME };
    enum : UINT {
        kGameControlId = 170,
        kButtonIdBase = 180,  // + the button's type
        kLogoId = 300,
        kMenuIdBase = 2034,  // + the menu entry's type
    };
    // Skin button types with a command of this window (the movie addresses types 12 and
    // 13, see the script bridge).
    enum : int32_t {
        kButtonLink = 1,
        kButtonClose = 5,
        kButtonMaximize = 6,
        kButtonMinimize = 7,
        kButtonHide = 8,
        kButtonRestore = 10,
        kButtonSettings = 11,
    };
    // Settings menu entry types.
    enum : int32_t {
        kMenuRestart = 1,
        kMenuClearCache = 2,
        kMenuFullScreen = 3,
        kMenuVersion = 4,
        kMenuAutoStart = 5,
    };
    enum : UINT {
        kHotKeyId = 0x5520,
        kTrayIconId = 128,
        kTrayMessage = 0x7E9,
        kTrayExitId = IDCANCEL,
    };
    enum : UINT_PTR { kFlashTimer = 102 };
    enum : UINT { kFlashPeriodMs = 1000 };

    explicit CGameDialog(LauncherHost& host, CWnd* parent = nullptr);
    ~CGameDialog() override;

    // Places the buttons and the game control for the current state; repaints.
    void LayoutChildren();
    void MaximizeToWorkArea();
    void RestoreNormalSize();
    void ToggleFullScreen();
    // The first skin button of `type`, or null.
    CGameButton* FindButtonOfType(int32_t type) const;
    // Reads the encrypted game frame at `path`, decrypts it with `key` and plays it.
    // False when the file is missing, empty or unreadable, the path is too long, the
    // frame does not decrypt into a movie (the user is told) or the control cannot load.
    bool LoadGameMovie(const std::wstring& path, const char* key);

    // Hides the window to the notification area (hide button, boss key).
    void HideToTray();
    // The settings menu's items, as the settings button shows them; the caller destroys it.
    HMENU BuildSettingsMenu() const;

    // IGameBridgeWindow: what the movie's commands do to the window.
    CShockwaveFlash* gameControl() override { return gameControl_.get(); }
    void EndGameDialog() override { EndDialog(IDOK); }
    void SetButtonAddress(int32_t buttonType, const char* address) override;
    void ShowButton(int32_t buttonType) override;
    void SetTitleText(const std::wstring& text) override;
    // Flashes the taskbar button every second, but only while the window is minimised by
    // its own minimise button.
    void StartTaskbarFlashing() override;
    bool IsFullScreen() const override { return isFullScreen_; }
    void EnterFullScreen() override;
    void LeaveFullScreen() override;
    void ShowMessage(const wchar_t* text) override;

    CScriptBridge& scriptBridge() { return bridge_; }
    CClientServices& clientServices() { return services_; }
    bool isMaximized() const { return isMaximized_; }
    bool isHiddenToTray() const { return hiddenToTray_; }
    const CTrayIcon& trayIcon() const { return trayIcon_; }
    bool isMinimisedByButton() const { return minimisedByButton_; }
    bool autoStart() const { return autoStart_; }
    const CGameFrame& frame() const { return frame_; }
    const std::vector<std::unique_ptr<CGameButton>>& skinButtons() const { return skinButtons_; }
    const std::wstring& titleText() const { return titleText_; }

    BOOL PreTranslateMessage(MSG* message) override;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;

    // The close and restart questions (OK and Cancel) and the start of a fresh launcher;
    // tests answer and record them.
    virtual int AskUser(const wchar_t* text, const wchar_t* caption, UINT flags);
    virtual void StartNewInstance();

    LauncherHost& host_;

private:
    // IFlashEventHandler: the control's events.
    void OnFSCommand(UINT controlId, const wchar_t* command, const wchar_t* arguments) override;
    void OnFlashCall(UINT controlId, const wchar_t* request) override;

    // Initialisation steps.
    bool CreateGameControl(const RECT& workArea);
    bool CreateSkinButtons(HBITMAP sheet, const RECT& workArea);
    bool CreateLogo();

    // States and moving.
    void OnPaint();
    bool OnMouseMove(WPARAM keys, POINT cursor);
    bool OnTitleDoubleClick(const MSG& message);
    void ShowStateButtons(bool maximized) const;
    void SetSkinButtonsVisible(int command) const;

    // Commands.
    std::wstring ConfirmationCaption() const;
    void CloseWithConfirmation();
    void RestartWithConfirmation();
    void ShowSettingsMenu();
    void ShowTrayMenu();
    LRESULT OnTrayNotify(WPARAM iconId, LPARAM mouseMessage);
    void OnHotKey();
    void OnRestoreCommand();
    void OnDestroy();

    HICON icon_ = nullptr;
    CClientServices services_;
    CScriptBridge bridge_;
    std::unique_ptr<CShockwaveFlash> gameControl_;
    CFlashEventSink flashEvents_;
    std::vector<std::unique_ptr<CGameButton>> skinButtons_;
    CWnd logoPicture_;
    CGdiObject<HBITMAP> logoBitmap_;
    std::wstring titleText_;
    RECT titleRect_ = {};
    int titleLength_ = 0;
    COLORREF titleColour_ = 0;
    LOGFONTW titleLogFont_ = {};
    CGdiObject<HFONT> titleFont_;
    CGameFrame frame_;
    RECT fullScreenRect_ = {};
    WINDOWPLACEMENT placementBeforeFullScreen_ = {};
    WINDOWPLACEMENT savedPlacement_ = {};
    bool hasSavedPlacement_ = false;
    bool layoutReady_ = false;
    POINT lastCursor_ = {0, 0};
    CTrayIcon trayIcon_;
    bool hotKeyRegistered_ = false;
    bool minimisedByButton_ = false;
    bool hiddenToTray_ = false;
    bool autoStart_ = false;
    bool isFullScreen_ = false;
    bool isMaximized_ = false;
};
