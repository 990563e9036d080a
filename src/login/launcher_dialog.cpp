#include "login/launcher_dialog.h"

#include <exdispid.h>
#include <ole2.h>
#include <gdiplus.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "framework/app.h"
#include "framework/bitmap.h"
#include "framework/image.h"
#include "framework/text.h"
#include "login/web_browser.h"
#include "ui/skin_button.h"

namespace {

enum : int { kLinkButton = 1, kMinimizeButton = 2, kCloseButton = 3, kEmbeddedPage = 4 };

// A show request for a layer that must stay hidden loses its show flag; true when it had one.
bool SuppressShow(LPARAM lParam) {
    auto* position = reinterpret_cast<WINDOWPOS*>(lParam);
    if (!position || !(position->flags & SWP_SHOWWINDOW)) return false;
    position->flags &= ~SWP_SHOWWINDOW;
    return true;
}

// A packaged picture as a bitmap the caller owns; null when it is not in the package.
HBITMAP LoadButtonBitmap(LauncherConfig& config, const char* format, int position, SIZE* size) {
    char name[32];
    snprintf(name, sizeof name, format, position);
    CImage image;
    if (!config.LoadPackageImage(name, image)) return nullptr;
    if (size) *size = {image.GetWidth(), image.GetHeight()};
    return CopyBitmapRect(image, 0, 0, image.GetWidth(), image.GetHeight());
}

}  // namespace

// ---------------------------------------------------------------------------
// Skin layer

CLauncherTranslucentDlg::CLauncherTranslucentDlg(LauncherHost& host, std::unique_ptr<Gdiplus::Image> skin,
                                                 CWnd* parent)
    : CTranslucentDialog(IDD, std::move(skin), parent), host_(host) {}

CLauncherStandardDlg* CLauncherTranslucentDlg::controls() const {
    return static_cast<CLauncherStandardDlg*>(controlLayer());
}

CStandardDialog* CLauncherTranslucentDlg::BuildControlLayer() {
    auto* layer = new CLauncherStandardDlg(host_, this);
    layer->SetPartner(this);
    // The task-bar entry can minimise the window.
    ModifyStyle(0, WS_MINIMIZEBOX);
    return layer;
}

BOOL CLauncherTranslucentDlg::PreTranslateMessage(MSG* message) {
    if (message->message == WM_KEYDOWN) {
        WPARAM key = message->wParam;
        if (key == VK_RETURN || key == VK_ESCAPE) return FALSE;
        if ((key >= VK_F1 && key <= VK_F12) || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_SHIFT) < 0)
            return TRUE;
    }
    return CTranslucentDialog::PreTranslateMessage(message);
}

LRESULT CLauncherTranslucentDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_WINDOWPOSCHANGING:
        // Started automatically: the window waits in the tray.
        if (host_.IsStartedWithArgument() && SuppressShow(lParam) && IsWindowVisible()) ShowWindow(SW_HIDE);
        return CTranslucentDialog::WindowProc(message, wParam, lParam);
    default:
        return CTranslucentDialog::WindowProc(message, wParam, lParam);
    }
}

// ---------------------------------------------------------------------------
// Control layer

CLauncherStandardDlg::CLauncherStandardDlg(LauncherHost& host, CWnd* parent)
    : CStandardDialog(IDD, kColorKey, parent), host_(host) {}

CLauncherStandardDlg::~CLauncherStandardDlg() { ReleaseControls(); }

HWND CLauncherStandardDlg::SkinLayerWindow() const {
    return partner() ? partner()->m_hWnd : GetParent();
}

BOOL CLauncherStandardDlg::OnInitDialog() {
    CStandardDialog::OnInitDialog();
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof hintLogFont_, &hintLogFont_);
    hintLogFont_.lfHeight = 48;
    hintLogFont_.lfWeight = FW_BOLD;
    hintFont_.Reset(CreateFontIndirectW(&hintLogFont_));
    documentCompleteCount_ = 0;
    pageShown_ = false;
    if (!partner()) return FALSE;

    LauncherConfig& config = host_.config();
    const LauncherSettings& settings = config.settings();
    std::string title = std::string(settings.title) + " V" + settings.version;
    std::wstring wideTitle = ToWide(title.c_str(), true);
    SetWindowText(wideTitle.c_str());
    partner()->SetWindowText(wideTitle.c_str());

    int position = 0;
    for (const LinkEntry& link : config.links()) {
        ++position;
        switch (link.type) {
        case kLinkButton:
        case kMinimizeButton:
        case kCloseButton:
            if (!CreateLinkButton(link, position)) return FALSE;
            break;
        case kEmbeddedPage:
            if (!CreatePage(link)) return FALSE;
            break;
        default:
            break;
        }
    }
    return TRUE;
}

bool CLauncherStandardDlg::CreateLinkButton(const LinkEntry& link, int position) {
    LauncherConfig& config = host_.config();
    SIZE size = {};
    HBITMAP normal = LoadButtonBitmap(config, "config/%d_n.png", position, &size);
    if (!normal) return false;
    auto button = std::make_unique<CxSkinButton>();
    RECT rect = {link.x, link.y, link.x + size.cx, link.y + size.cy};
    if (!button->Create(L"", WS_CHILD | WS_VISIBLE, rect, this, kLinkButtonBase + static_cast<UINT>(link.type))) {
        DeleteObject(normal);
        return false;
    }
    HBITMAP down = LoadButtonBitmap(config, "config/%d_d.png", position, nullptr);
    if (!down) {
        button->AssignBitmaps(normal, nullptr, nullptr, nullptr, nullptr, nullptr, CxSkinButton::kOwnSize, 0, 0);
        buttons_.push_back(std::move(button));
        return false;
    }
    button->AssignBitmaps(normal, down, nullptr, nullptr, nullptr, nullptr, CxSkinButton::kOwnSize, 0, 0);
    button->SetLinkAddress(link.url[0] ? link.url : "_blank");
    buttons_.push_back(std::move(button));
    return true;
}

bool CLauncherStandardDlg::CreatePage(const LinkEntry& link) {
    auto page = std::make_unique<CWebBrowserEx>();
    UINT id = kFirstPageId + static_cast<UINT>(pages_.size());
    RECT rect = {link.x, link.y, link.x + link.width, link.y + link.height};
    CWebBrowserEx* created = page.get();
    pages_.push_back(std::move(page));
    if (!created->Create(WS_CHILD, rect, this, id)) return false;
    if (id == kFirstPageId) {
        firstPageEvents_ = std::make_unique<CEventSink>(this, id, kWebBrowserEventsId);
        firstPageEvents_->Advise(created->GetControlUnknown());
    }
    created->Navigate(L"about:blank");
    created->AttachUIController(false);
    created->SetSilent(true);
    std::wstring address = ToWide(link.url, true);
    created->Navigate(address.c_str());
    return true;
}

void CLauncherStandardDlg::ReleaseControls() {
    firstPageEvents_.reset();
    for (auto& button : buttons_) button->DestroyWindow();
    buttons_.clear();
    for (auto& page : pages_) page->DestroyWindow();
    pages_.clear();
    hintFont_.Reset();
    trayIcon_.Remove();
}

void CLauncherStandardDlg::OnControlEvent(UINT controlId, DISPID id, DISPPARAMS* parameters) {
    if (controlId != kFirstPageId || handingOver_) return;
    switch (id) {
    case DISPID_BEFORENAVIGATE2: {
        const wchar_t* address = EventStringArgument(parameters, 1);
        if (address) OnBeforeNavigate2(address);
        break;
    }
    case DISPID_DOCUMENTCOMPLETE:
        OnDocumentComplete();
        break;
    default:
        break;
    }
}

void CLauncherStandardDlg::OnBeforeNavigate2(const wchar_t* address) {
    if (!address) return;
    const std::string narrow = AnsiFromWide(address);

    // An empty header would match every address, the blank page included.
    const char* header = host_.config().gameheader();
    size_t headerLength = strlen(header);
    if (headerLength == 0) return;
    size_t found = narrow.find(header);
    if (found == std::string::npos) return;
    std::string gameAddress = found == 0 ? narrow.substr(headerLength) : narrow;

    handingOver_ = true;
    host_.SetGameAddress(gameAddress.c_str());
    OnOK();
    host_.RunUpdateAndGame();
    handingOver_ = false;
}

void CLauncherStandardDlg::OnDocumentComplete() {
    if (++documentCompleteCount_ != 1) return;
    pageShown_ = true;
    for (auto& page : pages_) page->ShowWindow(SW_SHOW);
    Invalidate();
}

void CLauncherStandardDlg::Reload() {
    // Each page shows its own link's address again.
    size_t index = 0;
    for (const LinkEntry& link : host_.config().links()) {
        if (link.type != kEmbeddedPage) continue;
        if (index >= pages_.size()) break;
        std::wstring address = ToWide(link.url, true);
        pages_[index++]->Navigate(address.c_str());
    }
}

void CLauncherStandardDlg::AskToClose() {
    const LauncherSettings& settings = host_.config().settings();
    std::wstring text = ToWide(settings.closeMsg, true);
    wchar_t caption[MAX_PATH] = L"";
    if (settings.initname[0])
        lstrcpynW(caption, ToWide(settings.initname, true), MAX_PATH);
    else
        AfxGetAppName(caption, MAX_PATH);
    if (MessageBoxW(m_hWnd, text.c_str(), caption, kQuestionBoxFlags) == IDOK) OnOK();
}

bool CLauncherStandardDlg::OnCommand(WORD id, WORD code, HWND control) {
    (void)code, (void)control;
    switch (id) {
    case kMinimizeId:
        ShowPair(SW_MINIMIZE);
        return true;
    case kCloseId:
        AskToClose();
        return true;
    default:
        return false;
    }
}

BOOL CLauncherStandardDlg::PreTranslateMessage(MSG* message) {
    if (message->message == WM_KEYDOWN) {
        if (message->wParam == VK_RETURN || message->wParam == VK_ESCAPE) return FALSE;
        if (message->wParam == VK_F5) {
            Reload();
            return TRUE;
        }
    }
    return CStandardDialog::PreTranslateMessage(message);
}

void CLauncherStandardDlg::PaintHint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (!dc) return;
    const LauncherSettings& settings = host_.config().settings();
    std::wstring text = ToWide(settings.logintexts, true);
    {
        CSelectObject font(dc, hintFont_.get());
        SetTextColor(dc, kHintColor);
        SetBkColor(dc, RGB(0, 0, 0));
        TextOutW(dc, settings.loginTextX, settings.loginTextY, text.c_str(), static_cast<int>(text.size()));
    }
    EndPaint(m_hWnd, &paint);
}

void CLauncherStandardDlg::ShowPair(int command) {
    ShowWindow(command);
    HWND skin = SkinLayerWindow();
    if (skin) ::ShowWindow(skin, command);
}

void CLauncherStandardDlg::MoveToTray() {
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    trayIcon_.Add(m_hWnd, kTrayIconId, kTrayMessage, icon, ToWide(host_.config().settings().notityTitle, true));
    ShowPair(SW_HIDE);
}

void CLauncherStandardDlg::ShowTrayMenu() {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    std::wstring text = ToWide(host_.config().settings().notifyCloseTitle, true);
    AppendMenuW(menu, MF_STRING, kTrayCloseCommand, text.c_str());
    POINT cursor = {};
    GetCursorPos(&cursor);
    // The menu closes when the user clicks elsewhere only if its owner is in front.
    SetForegroundWindow(m_hWnd);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, m_hWnd, nullptr);
    PostMessage(WM_NULL);
    DestroyMenu(menu);
}

void CLauncherStandardDlg::OnTrayMessage(LPARAM event) {
    switch (event) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
        host_.SetStartedWithArgument(false);
        ShowPair(SW_SHOW);
        trayIcon_.Remove();
        break;
    case WM_RBUTTONUP:
        ShowTrayMenu();
        break;
    default:
        break;
    }
}

LRESULT CLauncherStandardDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        if (pageShown_) return CStandardDialog::WindowProc(message, wParam, lParam);
        PaintHint();
        return 0;
    case WM_WINDOWPOSCHANGING:
        if (host_.IsStartedWithArgument() && SuppressShow(lParam)) MoveToTray();
        return CStandardDialog::WindowProc(message, wParam, lParam);
    case kTrayMessage:
        if (wParam != kTrayIconId) return 1;
        OnTrayMessage(lParam);
        return 0;
    default:
        if (trayIcon_.OnTaskbarCreated(message)) return 0;
        return CStandardDialog::WindowProc(message, wParam, lParam);
    }
}
