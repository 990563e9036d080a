// The login window: the packaged skin as the translucent layer, and over it the control
// layer with the link buttons, the embedded login page and the hint shown until the page
// has loaded. The login page ends the login by navigating to the game header followed by
// the game address; the window then hands over to the update dialog and the game.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "app/launcher_host.h"
#include "framework/activex.h"
#include "framework/gdi.h"
#include "framework/tray_icon.h"
#include "res/resource.h"
#include "ui/translucent_dialog.h"

class CxSkinButton;
class CWebBrowserEx;
class CLauncherStandardDlg;

class CLauncherTranslucentDlg : public CTranslucentDialog {
public:
    enum { IDD = IDD_TRANSLUCENT_LAYER };

    CLauncherTranslucentDlg(LauncherHost& host, std::unique_ptr<Gdiplus::Image> skin, CWnd* parent = nullptr);

    BOOL PreTranslateMessage(MSG* message) override;
    CLauncherStandardDlg* controls() const;

protected:
    CStandardDialog* BuildControlLayer() override;
    void InitLayerChildren() override {}
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    LauncherHost& host_;
};

class CLauncherStandardDlg : public CStandardDialog, public IControlEventHandler {
public:
    enum { IDD = IDD_STANDARD_LAYER };
    enum : COLORREF { kColorKey = RGB(0, 255, 0) };
    enum : UINT {
        kFirstPageId = 150,
        kLinkButtonBase = 200,
        kMinimizeId = 202,
        kCloseId = 203,
        kTrayIconId = IDR_MAINFRAME,
        kTrayMessage = 2025,
        kTrayCloseCommand = IDCANCEL,
    };
    enum : COLORREF { kHintColor = RGB(119, 119, 119) };

    CLauncherStandardDlg(LauncherHost& host, CWnd* parent);
    ~CLauncherStandardDlg() override;

    void ReleaseControls() override;
    BOOL PreTranslateMessage(MSG* message) override;
    // Events of the embedded pages; only the first page's are acted on.
    void OnControlEvent(UINT controlId, DISPID id, DISPPARAMS* parameters) override;

    bool pageShown() const { return pageShown_; }
    int32_t documentCompleteCount() const { return documentCompleteCount_; }
    const CTrayIcon& trayIcon() const { return trayIcon_; }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool CreateLinkButton(const LinkEntry& link, int position);
    bool CreatePage(const LinkEntry& link);
    void OnBeforeNavigate2(const wchar_t* address);
    void OnDocumentComplete();
    void Reload();
    void AskToClose();
    void PaintHint();
    void MoveToTray();
    void OnTrayMessage(LPARAM event);
    void ShowTrayMenu();
    void ShowPair(int command);
    HWND SkinLayerWindow() const;

    LauncherHost& host_;
    std::vector<std::unique_ptr<CxSkinButton>> buttons_;
    std::vector<std::unique_ptr<CWebBrowserEx>> pages_;
    std::unique_ptr<CEventSink> firstPageEvents_;
    int32_t documentCompleteCount_ = 0;
    bool pageShown_ = false;
    CGdiObject<HFONT> hintFont_;
    LOGFONTW hintLogFont_ = {};
    CTrayIcon trayIcon_;
    bool handingOver_ = false;
};
