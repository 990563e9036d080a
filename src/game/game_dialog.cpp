#include "game/game_dialog.h"

#include <windowsx.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "app/launcher_host.h"
#include "framework/app.h"
#include "framework/bitmap.h"
#include "framework/text.h"
#include "ravlib/log.h"
#include "server/scramble.h"

namespace {

// Decryption may need more room than the frame itself.
const size_t kDecryptSlack = 200;

// A game movie is a Flash file: "FWS" plain, "CWS" zlib, "ZWS" LZMA.
bool IsFlashMovie(const uint8_t* movie, size_t length) {
    if (length < 3 || movie[1] != 'W' || movie[2] != 'S') return false;
    return movie[0] == 'F' || movie[0] == 'C' || movie[0] == 'Z';
}

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};

// The whole file, or false when it cannot be opened, is empty, too large to decrypt in
// one piece, or reads short.
bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>* bytes) {
    std::unique_ptr<FILE, FileCloser> file(_wfopen(path.c_str(), L"rb"));
    if (!file) return false;
    if (fseek(file.get(), 0, SEEK_END) != 0) return false;
    const int64_t length = _ftelli64(file.get());
    if (length <= 0 || length > static_cast<int64_t>(INT32_MAX - kDecryptSlack)) return false;
    if (fseek(file.get(), 0, SEEK_SET) != 0) return false;
    bytes->resize(static_cast<size_t>(length));
    return fread(bytes->data(), 1, bytes->size(), file.get()) == bytes->size();
}

}  // namespace

using gameframe::CurrentPlacement;
using gameframe::Height;
using gameframe::PlaceNormally;
using gameframe::ScreenToWorkspace;
using gameframe::Width;
using gameframe::WorkArea;
using gameframe::WorkspaceToScreen;

CGameDialog::CGameDialog(LauncherHost& host, CWnd* parent)
    : CDialog(IDD, parent),
      host_(host),
      bridge_(*this, services_, host.config().settings()),
      flashEvents_(this, kGameControlId) {
    icon_ = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CGameDialog::~CGameDialog() {
    // The children go with the window, before the objects that draw them.
    if (m_hWnd) DestroyWindow();
}

BOOL CGameDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    ravlib::LogMessage(ravlib::kLogInfo, L"launch: game window opened");
    // The object may be shown again: nothing of an earlier window carries over.
    skinButtons_.clear();
    layoutReady_ = false;
    isFullScreen_ = false;
    hiddenToTray_ = false;
    minimisedByButton_ = false;
    hasSavedPlacement_ = false;
    bridge_.StopForwardingFunctionKeys();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof titleLogFont_, &titleLogFont_);
    titleLogFont_.lfWeight = FW_BOLD;
    titleFont_.Reset(CreateFontIndirectW(&titleLogFont_));

    const RECT work = WorkArea();
    MoveWindow(work, TRUE);
    ModifyStyle(0, WS_MINIMIZEBOX);
    hotKeyRegistered_ = RegisterHotKey(m_hWnd, kHotKeyId, 0, VK_HOME) != FALSE;

    LauncherConfig& config = host_.config();
    const LauncherSettings& settings = config.settings();
    frame_.SetMinimumSize(std::min(settings.minGameWidth, static_cast<int32_t>(Width(work))),
                          std::min(settings.minGameHeight, static_cast<int32_t>(Height(work))));

    std::wstring windowText = ToWide(settings.title, true);
    windowText += L" V";
    windowText += ToWide(settings.version, true);
    SetWindowText(windowText.c_str());

    CImage sheet;
    if (!config.LoadPackageImage("config/style.png", sheet)) return FALSE;
    frame_.CutEdgePieces(sheet, config.gamePics(), config.edgeImages());
    if (!CreateGameControl(work)) return FALSE;
    std::wstring moviePath = host_.cacheDirectory();
    moviePath += ToWide(settings.swf, true);
    if (LoadGameMovie(moviePath, settings.aesKey)) ravlib::LogMessage(ravlib::kLogInfo, L"launch: game movie loaded");
    if (!CreateSkinButtons(sheet, work)) return FALSE;
    if (!CreateLogo()) return FALSE;

    titleRect_ = RECT{settings.titlex, settings.titley, settings.titlex + settings.titleWidth,
                      settings.titley + settings.titleHeight};
    SetTitleText(ToWide(settings.title, true));
    titleColour_ = settings.titleColor;
    ModifyStyleEx(0, WS_EX_APPWINDOW);
    autoStart_ = services_.ReadAutoStart();

    layoutReady_ = true;
    MaximizeToWorkArea();
    LayoutChildren();
    bridge_.InitGameParams(host_.flashVars());
    return TRUE;
}

bool CGameDialog::CreateGameControl(const RECT& work) {
    if (!gameControl_) gameControl_.reset(new CShockwaveFlash);
    const RECT area = frame_.GameArea(Width(work), Height(work), false);
    if (!gameControl_->Create(L"", WS_CHILD | WS_VISIBLE, area, this, kGameControlId)) {
        // No Flash Player: there is no game, and nothing to call or stop.
        gameControl_.reset();
        return false;
    }
    flashEvents_.Advise(*gameControl_);
    return true;
}

bool CGameDialog::LoadGameMovie(const std::wstring& path, const char* key) {
    // The frame's path is never cut short: a path the system cannot open whole is refused.
    if (path.empty() || path.size() >= MAX_PATH) return false;
    std::vector<uint8_t> frame;
    if (!ReadWholeFile(path, &frame)) return false;
    std::vector<uint8_t> movie(frame.size() + kDecryptSlack);
    const int length = DecryptGameFrame(frame.data(), static_cast<int>(frame.size()), key, movie.data());
    if (length <= 0 || !IsFlashMovie(movie.data(), static_cast<size_t>(length))) {
        wchar_t caption[MAX_PATH];
        AfxGetAppName(caption, MAX_PATH);
        MessageBoxW(m_hWnd, L"load game main engineer error", caption, MB_OK);
        return false;
    }
    if (!gameControl_) return false;
    FlashMemoryStream stream(movie.data(), static_cast<uint32_t>(length));
    if (!LoadMovieFromStream(*gameControl_, &stream)) return false;
    try {
        gameControl_->DisableLocalSecurity();
    } catch (const CDispatchException&) {
        // A control without local security settings plays the movie all the same.
    }
    return true;
}

bool CGameDialog::CreateSkinButtons(HBITMAP sheet, const RECT& work) {
    const std::vector<GamePicEntry>& pictures = host_.config().gamePics();
    const std::vector<GameButtonEntry>& entries = host_.config().gameButtons();
    for (size_t j = 0; j < entries.size(); ++j) {
        const GameButtonEntry& entry = entries[j];
        const int32_t p = entry.image - 1;
        if (p < 0 || static_cast<size_t>(p) >= pictures.size()) continue;
        const GamePicEntry& picture = pictures[p];

        std::unique_ptr<CGameButton> button(new CGameButton(entry.type, j));
        const std::wstring caption = ToWide(entry.title, true);
        const RECT rect = {work.right + entry.x, work.top + entry.y, work.right + entry.x + picture.width,
                           work.top + entry.y + picture.height};
        if (!button->Create(caption.c_str(), WS_CHILD | WS_VISIBLE, rect, this,
                            static_cast<UINT>(kButtonIdBase + entry.type)))
            return false;
        HBITMAP states[3];
        for (int k = 0; k < 3; ++k)
            states[k] = CopyBitmapRect(sheet, picture.x, picture.y + k * (picture.height + picture.interval),
                                       picture.width, picture.height);
        button->AssignBitmaps(states[0], states[1], states[2]);
        if (entry.type == kButtonLink || entry.type == kButtonTypeTopUp) button->SetLinkAddress(entry.url);
        if (entry.tips[0]) button->SetTipText(ToWide(entry.tips, true));
        button->SetCaptionColor(entry.color);
        if (entry.type == kButtonTypeNotice) {
            button->ShowWindow(SW_HIDE);
            button->BlinkCaption(true);
        }
        skinButtons_.push_back(std::move(button));
    }
    return true;
}

bool CGameDialog::CreateLogo() {
    CImage logo;
    if (!host_.config().LoadPackageImage("config/logo.png", logo)) return false;
    const LauncherSettings& settings = host_.config().settings();
    const int width = logo.GetWidth();
    const int height = logo.GetHeight();
    const RECT rect = {settings.logx, settings.logy, settings.logx + width, settings.logy + height};
    if (!logoPicture_.CreateEx(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP, rect, m_hWnd, kLogoId))
        return false;

    // A static control copies its picture without blending, so the logo is laid over the
    // part of the title band it stands on here, once.
    HDC screen = GetDC(nullptr);
    logoBitmap_.Reset(CreateCompatibleBitmap(screen, width, height));
    ReleaseDC(nullptr, screen);
    if (!logoBitmap_) return true;
    CMemoryDC target(nullptr);
    CSelectObject selectTarget(target.get(), logoBitmap_.get());
    PatBlt(target.get(), 0, 0, width, height, BLACKNESS);
    frame_.DrawTitleBand(target.get(), settings.logy, width, height);
    logo.Draw(target.get(), 0, 0, width, height);
    logoPicture_.SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(logoBitmap_.get()));
    return true;
}

void CGameDialog::SetTitleText(const std::wstring& text) {
    titleText_ = text;
    titleLength_ = static_cast<int>(titleText_.size());
    LayoutChildren();
}

CGameButton* CGameDialog::FindButtonOfType(int32_t type) const {
    for (const std::unique_ptr<CGameButton>& button : skinButtons_)
        if (button->type() == type) return button.get();
    return nullptr;
}

void CGameDialog::LayoutChildren() {
    // Until initialisation has made this window's children, the ones in skinButtons_ may be
    // an earlier window's, already gone.
    if (!m_hWnd || !layoutReady_) return;
    const RECT window = GetWindowRect();
    const int windowWidth = Width(window);
    const int windowHeight = Height(window);
    const std::vector<GamePicEntry>& pictures = host_.config().gamePics();
    const std::vector<GameButtonEntry>& entries = host_.config().gameButtons();
    for (const std::unique_ptr<CGameButton>& button : skinButtons_) {
        const GameButtonEntry& entry = entries[button->entryIndex()];
        const GamePicEntry& picture = pictures[entry.image - 1];
        // x counts leftwards from the inner side of the right edge, or from the window's
        // right side when maximised.
        const int x = windowWidth + entry.x - (isMaximized_ ? 0 : frame_.edgeWidth(CGameFrame::kRight));
        button->MoveWindow(x, entry.y, picture.width, picture.height, FALSE);
    }
    if (gameControl_ && gameControl_->m_hWnd) {
        if (isFullScreen_) {
            gameControl_->MoveWindow(0, 0, windowWidth, windowHeight, TRUE);
        } else {
            const RECT area = frame_.GameArea(windowWidth, windowHeight, isMaximized_);
            gameControl_->MoveWindow(area, FALSE);
        }
    }
    Invalidate(TRUE);
}

void CGameDialog::ShowStateButtons(bool maximized) const {
    if (CGameButton* restore = FindButtonOfType(kButtonRestore)) restore->ShowWindow(maximized ? SW_SHOW : SW_HIDE);
    if (CGameButton* maximize = FindButtonOfType(kButtonMaximize)) maximize->ShowWindow(maximized ? SW_HIDE : SW_SHOW);
}

void CGameDialog::SetSkinButtonsVisible(int command) const {
    for (const std::unique_ptr<CGameButton>& button : skinButtons_) button->ShowWindow(command);
    if (logoPicture_.m_hWnd) logoPicture_.ShowWindow(command);
}

void CGameDialog::MaximizeToWorkArea() {
    if (hasSavedPlacement_ && !isMaximized_) savedPlacement_ = CurrentPlacement(m_hWnd);
    isMaximized_ = true;
    const RECT work = WorkArea();
    ShowStateButtons(true);
    PlaceNormally(m_hWnd, work);
    LayoutChildren();
}

void CGameDialog::RestoreNormalSize() {
    isMaximized_ = false;
    RECT target;
    if (hasSavedPlacement_) {
        target = WorkspaceToScreen(savedPlacement_.rcNormalPosition);
    } else {
        // The first restore: the configured game size centred in the work area's size.
        const RECT work = WorkArea();
        const LauncherSettings& settings = host_.config().settings();
        const int x = std::max(0, (Width(work) - settings.minGameWidth) / 2);
        const int y = std::max(0, (Height(work) - settings.minGameHeight) / 2);
        target = RECT{x, y, x + settings.minGameWidth, y + settings.minGameHeight};
        savedPlacement_ = CurrentPlacement(m_hWnd);
        savedPlacement_.rcNormalPosition = ScreenToWorkspace(target);
        hasSavedPlacement_ = true;
    }
    ShowStateButtons(false);
    MoveWindow(target, TRUE);
    LayoutChildren();
}

void CGameDialog::EnterFullScreen() {
    placementBeforeFullScreen_ = CurrentPlacement(m_hWnd);
    if (!isMaximized_) savedPlacement_ = placementBeforeFullScreen_;
    const RECT window = GetWindowRect();
    RECT client = GetClientRect();
    MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
    fullScreenRect_ = RECT{window.left - client.left, window.top - client.top,
                           window.right - client.right + GetSystemMetrics(SM_CXSCREEN),
                           window.bottom - client.bottom + GetSystemMetrics(SM_CYSCREEN)};
    SetSkinButtonsVisible(SW_HIDE);
    if (gameControl_ && gameControl_->m_hWnd)
        gameControl_->MoveWindow(0, 0, Width(fullScreenRect_), Height(fullScreenRect_), FALSE);
    ShowWindow(SW_HIDE);
    isFullScreen_ = true;
    PlaceNormally(m_hWnd, fullScreenRect_);
}

void CGameDialog::LeaveFullScreen() {
    SetSkinButtonsVisible(SW_SHOWNORMAL);
    isFullScreen_ = false;
    MoveWindow(WorkspaceToScreen(placementBeforeFullScreen_.rcNormalPosition), TRUE);
    ShowWindow(SW_HIDE);
    SetWindowPlacement(m_hWnd, &placementBeforeFullScreen_);
    if (isMaximized_)
        MaximizeToWorkArea();
    else
        RestoreNormalSize();
}

void CGameDialog::ToggleFullScreen() {
    if (isFullScreen_)
        LeaveFullScreen();
    else
        EnterFullScreen();
}

void CGameDialog::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    const RECT client = GetClientRect();
    if (IsIconic(m_hWnd)) {
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc));
        const int x = (Width(client) - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (Height(client) - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, icon_);
    } else if (!isFullScreen_) {
        frame_.Draw(dc, Width(client), Height(client), isMaximized_);
        for (const std::unique_ptr<CGameButton>& button : skinButtons_)
            RedrawWindow(button->m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        CSelectObject font(dc, titleFont_.get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, titleColour_);
        TextOutW(dc, titleRect_.left, titleRect_.top, titleText_.c_str(), titleLength_);
    }
    EndPaint(m_hWnd, &paint);
}

bool CGameDialog::OnMouseMove(WPARAM keys, POINT cursor) {
    if (keys == MK_LBUTTON && !isMaximized_ && !isFullScreen_ && cursor.y < frame_.titleBandHeight()) {
        if (cursor.x != lastCursor_.x || cursor.y != lastCursor_.y) {
            // The window follows the cursor, which then stands at lastCursor_ again.
            const RECT window = GetWindowRect();
            MoveWindow(window.left + cursor.x - lastCursor_.x, window.top + cursor.y - lastCursor_.y, Width(window),
                       Height(window), TRUE);
        }
        return true;
    }
    lastCursor_ = cursor;
    return false;
}

bool CGameDialog::OnTitleDoubleClick(const MSG& message) {
    if (isFullScreen_) return false;
    const RECT normal = WorkspaceToScreen(CurrentPlacement(m_hWnd).rcNormalPosition);
    if (message.pt.y <= normal.top || message.pt.y >= normal.top + frame_.titleBandHeight()) return false;
    if (isMaximized_)
        RestoreNormalSize();
    else
        MaximizeToWorkArea();
    return true;
}

BOOL CGameDialog::PreTranslateMessage(MSG* message) {
    switch (message->message) {
    case WM_LBUTTONDBLCLK:
        if (OnTitleDoubleClick(*message)) return TRUE;
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        // Enter and Escape belong to the movie; they never end the window.
        if (message->wParam == VK_RETURN || message->wParam == VK_ESCAPE) return FALSE;
        if (message->wParam == VK_F8) {
            ToggleFullScreen();
            return TRUE;
        }
        break;
    default:
        break;
    }
    switch (bridge_.FilterInput(*message)) {
    case InputDecision::Consumed:
        return TRUE;
    case InputDecision::NotHandled:
        return FALSE;
    case InputDecision::Continue:
        break;
    }
    return CDialog::PreTranslateMessage(message);
}

void CGameDialog::OnFSCommand(UINT, const wchar_t*, const wchar_t*) {}

void CGameDialog::OnFlashCall(UINT, const wchar_t* request) { bridge_.OnFlashCall(request); }

LRESULT CGameDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_NCHITTEST:
        if (isMaximized_ || isFullScreen_) return HTCLIENT;
        return frame_.HitTest(GetWindowRect(), POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
    case WM_NCLBUTTONDOWN:
        // The edges and corners size the window (SC_SIZE + 1 … 8 in hit-code order).
        if (wParam >= HTLEFT && wParam <= HTBOTTOMRIGHT)
            SendMessage(WM_SYSCOMMAND, SC_SIZE + (wParam - HTLEFT + 1), lParam);
        return 0;
    case WM_SETCURSOR:
        SetCursor(LoadCursorW(nullptr, gameframe::SizingCursor(LOWORD(lParam))));
        return TRUE;
    case WM_MOUSEMOVE:
        if (OnMouseMove(wParam, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)})) return 0;
        return Default();
    case WM_MOVE: {
        const LRESULT result = Default();
        LayoutChildren();
        return result;
    }
    case WM_SIZE: {
        const LRESULT result = Default();
        if (!isFullScreen_) LayoutChildren();
        return result;
    }
    case WM_SIZING:
        frame_.KeepMinimumSize(reinterpret_cast<RECT*>(lParam));
        return TRUE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(icon_);
    case WM_HELP:
        return 1;
    case WM_HOTKEY:
        if (wParam != kHotKeyId) return Default();
        OnHotKey();
        return 0;
    case kTrayMessage:
        return OnTrayNotify(wParam, lParam);
    case WM_TIMER:
        if (wParam == kFlashTimer) FlashWindow(m_hWnd, TRUE);
        return Default();
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_RESTORE) OnRestoreCommand();
        return Default();
    case WM_DESTROY:
        OnDestroy();
        return Default();
    default:
        if (trayIcon_.OnTaskbarCreated(message)) return 0;
        return CDialog::WindowProc(message, wParam, lParam);
    }
}
