#include "update/update_dialog.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include "framework/app.h"
#include "framework/bitmap.h"
#include "framework/handles.h"
#include "framework/paths.h"
#include "framework/text.h"
#include "ravlib/log.h"
#include "server/dictionary_file.h"
#include "server/file_cache.h"
#include "server/file_server.h"
#include "server/session_server.h"
#include "update/game_page.h"
#include "update/hash_key.h"
#include "update/http_client.h"
#include "update/version_checker.h"
#include "zip/zip_reader.h"

namespace {

volatile LONG g_updateActive = 0;

const int32_t kDictionaryItemLimit = 64 << 20;

void SetUpdateActive(bool active) {
    LONG wanted = active ? 1 : 0;
    InterlockedCompareExchange(&g_updateActive, wanted, 1 - wanted);
}

using SetLayeredWindowAttributesFunction = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);

}  // namespace

std::wstring FormatTipText(const std::wstring& format, int number) {
    std::wstring text;
    bool numberUsed = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != L'%' || i + 1 >= format.size()) {
            text += format[i];
            continue;
        }
        wchar_t next = format[i + 1];
        if (next == L'%') {
            text += L'%';
            ++i;
        } else if (!numberUsed && (next == L'd' || next == L'i' || next == L'u')) {
            text += std::to_wstring(next == L'u' ? static_cast<long long>(static_cast<unsigned>(number))
                                                 : static_cast<long long>(number));
            numberUsed = true;
            ++i;
        } else {
            text += format[i];
        }
    }
    return text;
}

std::string AppendPortParameters(const std::string& pageAddress, int port) {
    char parameter[48];
    snprintf(parameter, sizeof parameter,
             pageAddress.find('?') != std::string::npos ? "&connectPort=%d" : "?connectPort=%d", port);
    return pageAddress + parameter + "&clientversionz=2";
}

bool UpdateDlg::IsUpdateActive() { return InterlockedCompareExchange(&g_updateActive, 0, 0) == 1; }

UpdateDlg::UpdateDlg(LauncherHost& host, CWnd* parent) : CDialog(IDD, parent), host_(host) {
    SetUpdateActive(false);
}

UpdateDlg::~UpdateDlg() {
    SetUpdateActive(false);
}

BOOL UpdateDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // The object may be shown again: nothing of an earlier preparation counts as ready.
    frameReady_ = false;
    dictReady_ = false;
    for (uint64_t& tick : attemptTick_) tick = 0;
    LOGFONTW logFont = {};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof logFont, &logFont);
    logFont.lfWeight = FW_BOLD;
    font_.Reset(CreateFontIndirectW(&logFont));

    // Pure white pixels of the skin are transparent.
    HMODULE user32 = LoadLibraryW(L"User32.dll");
    if (!user32) return FALSE;
    ModifyStyleEx(0, WS_EX_LAYERED);
    auto setLayered = reinterpret_cast<SetLayeredWindowAttributesFunction>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetLayeredWindowAttributes")));
    if (setLayered) setLayered(m_hWnd, RGB(255, 255, 255), 0, LWA_COLORKEY);
    FreeLibrary(user32);

    LauncherConfig& config = host_.config();
    tips_ = config.tipMessages();
    background_.Destroy();
    if (!config.LoadPackageImage("config/update.png", background_)) return FALSE;
    int width = background_.GetWidth();
    int height = background_.GetHeight();
    int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    MoveWindow(left < 0 ? 0 : left, top < 0 ? 0 : top, width, height);

    tipText_ = tips_.empty() ? std::wstring() : WideFromUtf8(tips_[0]);

    CImage style;
    if (!config.LoadPackageImage("config/style.png", style)) return FALSE;
    if (!CreateProgress(style)) return FALSE;
    if (!CreateRestartButton()) return FALSE;

    // Answers are taken as they arrive; the timer only catches one whose wake-up was lost.
    listening_ = CCurlHttpClient::AddResponseListener(OnAnswersQueued, m_hWnd);
    StartServerAndFetchGamePage();
    SetUpdateActive(true);
    SetTimer(kDispatchTimer, 1000);
    ravlib::LogMessage(ravlib::kLogInfo, L"launch: update dialog shown");
    return TRUE;
}

bool UpdateDlg::CreateProgress(const CImage& style) {
    const std::vector<GamePicEntry>& pictures = host_.config().gamePics();
    // Pictures 17 and 18: the bar's rectangle and its fill on the picture sheet.
    if (pictures.size() < 18) return false;
    const GamePicEntry& bar = pictures[16];
    RECT rect = {bar.x, bar.y, bar.width, bar.height};
    if (!progress_.Create(WS_CHILD | WS_VISIBLE | PBS_SMOOTH, rect, this, kProgressId)) return false;
    const GamePicEntry& fill = pictures[17];
    HBITMAP fillBitmap = CopyBitmapRect(style, fill.x, fill.y, fill.width, fill.height);
    progress_.ModifyStyleEx(WS_EX_STATICEDGE, 0, SWP_FRAMECHANGED);
    progress_.SetPercentColor(0xFAFFFF);
    progress_.ShowPercent(true);
    progress_.SendMessage(PBM_SETBKCOLOR, 0, 0x040B0B);
    progress_.SetBitmap(fillBitmap, true);
    progress_.SetRange(0, 1000);
    progress_.SetStep(250);
    progress_.SetPos(0);
    return true;
}

bool UpdateDlg::CreateRestartButton() {
    const std::vector<GamePicEntry>& pictures = host_.config().gamePics();
    if (pictures.size() < 19) return false;
    const GamePicEntry& entry = pictures[18];
    char name[64];
    CImage normal;
    CImage down;
    snprintf(name, sizeof name, "config/%d_n.png", entry.count);
    if (!host_.config().LoadPackageImage(name, normal)) return false;
    snprintf(name, sizeof name, "config/%d_d.png", entry.count);
    if (!host_.config().LoadPackageImage(name, down)) return false;
    RECT rect = {entry.x, entry.y, entry.x + normal.GetWidth(), entry.y + normal.GetHeight()};
    if (!restartButton_.Create(L"", WS_CHILD | WS_VISIBLE, rect, this, kRestartButtonId)) return false;
    HBITMAP normalBitmap = CopyBitmapRect(normal, 0, 0, normal.GetWidth(), normal.GetHeight());
    HBITMAP downBitmap = CopyBitmapRect(down, 0, 0, down.GetWidth(), down.GetHeight());
    restartButton_.AssignBitmaps(normalBitmap, downBitmap, nullptr, nullptr, nullptr, nullptr, 1, 0, 0);
    return true;
}

void UpdateDlg::StartServerAndFetchGamePage() {
    int port = FileSrvStart(host_.config().settings().connectPort);
    if (port <= 0) {
        AfxMessageBox(L"Bind port fail");
        return;
    }
    pageAddress_ = AppendPortParameters(pageAddress_, port);
    Request(kDownloadGamePage, pageAddress_.c_str());
}

void UpdateDlg::Request(uint32_t kind, const char* address) {
    host_.SendRequest(kind, address);
    attemptTick_[kind] = GetTickCount64();
}

void UpdateDlg::Retry(uint32_t kind, const char* address) {
    const uint64_t due = attemptTick_[kind] + kRetryPauseMs;
    const uint64_t now = GetTickCount64();
    if (now >= due) {
        Request(kind, address);
        return;
    }
    retryAddress_[kind] = address;
    SetTimer(kRetryTimer + kind, static_cast<UINT>(due - now));
}

void UpdateDlg::OnAnswersQueued(void* window) {
    ::PostMessageW(static_cast<HWND>(window), kAnswersQueuedMessage, 0, 0);
}

void UpdateDlg::StopListening() {
    if (!listening_) return;
    listening_ = false;
    CCurlHttpClient::RemoveResponseListener(OnAnswersQueued, m_hWnd);
}

void UpdateDlg::DispatchAnswers() {
    if (CCurlHttpClient* http = CCurlHttpClient::GetInstance()) http->DispatchResponses();
    if (m_hWnd) CheckReady();
}

void UpdateDlg::OnDownload(uint32_t kind, bool success, const uint8_t* body, size_t length,
                           const char* address) {
    if (!IsUpdateActive()) return;
    bool ok = success && body && length > 0;
    if (kind < kDownloadGamePage || kind > kDownloadGameFrame) return;
    ravlib::LogMessage(ravlib::kLogInfo, L"launch: answer of kind %u %hs", kind, ok ? "arrived" : "failed");
    int step = static_cast<int>(kind);
    SetTip(TipMode::AfterDownload, ok, step, address);
    progress_.StepIt();
    switch (kind) {
    case kDownloadGamePage:
        OnGamePage(ok, body, length, address);
        break;
    case kDownloadHashKey:
        OnHashKey(ok, body, length, address);
        break;
    case kDownloadDictionaryArchive:
        OnDictionaryArchive(ok, body, length, address);
        break;
    case kDownloadGameFrame:
        OnGameFrame(ok, body, length, address);
        break;
    }
    if (IsUpdateActive() && m_hWnd) {
        Invalidate();
        UpdateWindow();
    }
}

void UpdateDlg::OnGamePage(bool ok, const uint8_t* body, size_t length, const char* address) {
    GamePage page;
    const GamePageVerdict verdict = ok ? ParseGamePage(body, length, &page) : kGamePageUnreadable;
    if (verdict == kGamePageUnreadable) {
        SetTip(TipMode::Retry, false, kDownloadGamePage);
        progress_.SetPos(250);
        Retry(kDownloadGamePage, address);
        return;
    }
    if (verdict == kGamePageParamError) {
        AfxMessageBox(L"xml param error");
        return;
    }
    host_.SendRequest(kDownloadAsynNotice, page.asynUrl.c_str());
    host_.SetCdnAddress(page.cdnUrl.c_str());
    host_.SetFlashVars(page.flashVars.c_str());
    std::string hashKeyAddress = page.cdnUrl;
    if (hashKeyAddress.empty() || hashKeyAddress.back() != '/') hashKeyAddress += '/';
    hashKeyAddress += host_.config().settings().hashkey;
    hashKeyAddress += "?" + Tick();
    Request(kDownloadHashKey, hashKeyAddress.c_str());
}

void UpdateDlg::OnHashKey(bool ok, const uint8_t* body, size_t length, const char* address) {
    if (!ok) {
        SetTip(TipMode::Retry, false, kDownloadHashKey);
        progress_.SetPos(500);
        Retry(kDownloadHashKey, address);
        return;
    }
    int64_t frameValue = 0;
    int64_t dictionaryValue = 0;
    if (!ParseHashKey(body, length, &frameValue, &dictionaryValue)) return;
    CheckResources(frameValue, dictionaryValue);
}

// Whether the cached file reads whole and has the published check value: a file that
// cannot be read is never current, whatever value was published.
static bool IsCurrent(const std::wstring& path, int64_t publishedValue) {
    uint32_t value = 0;
    return CheckValueOfFile(path.c_str(), false, &value) && value == static_cast<uint32_t>(publishedValue);
}

void UpdateDlg::CheckResources(int64_t frameValue, int64_t dictionaryValue) {
    const LauncherSettings& settings = host_.config().settings();
    std::string tick = Tick();

    if (IsCurrent(CachePath(settings.hashdicttxt), dictionaryValue)) {
        dictReady_ = true;
        SetTip(TipMode::AfterDownload, true, kDownloadDictionaryArchive);
        progress_.StepIt();
    } else {
        std::string address = host_.cdnAddress() + settings.hashdictzip + "?" + tick;
        Request(kDownloadDictionaryArchive, address.c_str());
    }

    if (IsCurrent(CachePath(settings.swf), frameValue)) {
        frameReady_ = true;
        SetTip(TipMode::AfterDownload, true, kDownloadGameFrame);
        progress_.StepIt();
    } else {
        std::string address = host_.cdnAddress() + settings.swf + "?" + tick;
        Request(kDownloadGameFrame, address.c_str());
    }
    ravlib::LogMessage(ravlib::kLogInfo, L"launch: check values compared (dictionary %hs, frame %hs)",
                       dictReady_ ? "current" : "fetched", frameReady_ ? "current" : "fetched");
    Invalidate();
    UpdateWindow();
}

void UpdateDlg::OnDictionaryArchive(bool ok, const uint8_t* body, size_t length, const char* address) {
    if (!ok) {
        SetTip(TipMode::Retry, false, kDownloadDictionaryArchive);
        progress_.SetPos(500);
        Retry(kDownloadDictionaryArchive, address);
        return;
    }
    dictReady_ = StoreDictionary(body, length);
}

void UpdateDlg::OnGameFrame(bool ok, const uint8_t* body, size_t length, const char* address) {
    if (!ok) {
        SetTip(TipMode::Retry, false, kDownloadGameFrame);
        progress_.SetPos(750);
        Retry(kDownloadGameFrame, address);
        return;
    }
    frameReady_ = StoreGameFrame(body, length);
}

// A cache file that could not be written is never reported as ready: the user is told
// which file it was, and the dialog waits for the restart button or the close command.
static bool SaveOrTell(const std::wstring& path, const void* data, size_t length) {
    if (FileSrvSaveFile(path.c_str(), data, length)) return true;
    std::wstring text = L"save file fail: " + path;
    AfxMessageBox(text.c_str());
    return false;
}

bool UpdateDlg::StoreGameFrame(const uint8_t* body, size_t length) {
    return SaveOrTell(CachePath(host_.config().settings().swf), body, length);
}

bool UpdateDlg::StoreDictionary(const uint8_t* body, size_t length) {
    if (length > 0xFFFFFFFFu) {
        AfxMessageBox(L"hashdict OpenZip fail");
        return false;
    }
    ZipHandle* zip = OpenZip(body, static_cast<uint32_t>(length), ZipFromMemory);
    if (!zip) {
        AfxMessageBox(L"hashdict OpenZip fail");
        return false;
    }
    const char* itemName = host_.config().settings().hashdicttxt;
    std::wstring wideName = WideFromUtf8(itemName);
    int32_t index = -1;
    ZipItemInfoW info = {};
    uint32_t located = LocateZipItemW(zip, wideName.c_str(), true, &index, &info);
    if (located == ZR_NOTFOUND || (located == ZR_OK && info.uncompressedSize <= 0)) {
        ReleaseZip(zip);
        AfxMessageBox(L"hashdict not found");
        return false;
    }
    // An item the reader refuses, or larger than any dictionary, is a damaged archive.
    if (located != ZR_OK || info.uncompressedSize > kDictionaryItemLimit) {
        ReleaseZip(zip);
        AfxMessageBox(L"hashdict OpenZip fail");
        return false;
    }
    std::vector<uint8_t> dictionary(static_cast<size_t>(info.uncompressedSize));
    uint32_t result = ExtractZipItem(zip, index, dictionary.data(), static_cast<uint32_t>(dictionary.size()),
                                     ZipFromMemory);
    ReleaseZip(zip);
    // A damaged item is not written as the dictionary.
    if (result != ZR_OK) {
        AfxMessageBox(L"hashdict OpenZip fail");
        return false;
    }
    return SaveOrTell(CachePath(itemName), dictionary.data(), dictionary.size());
}

void UpdateDlg::SetTip(TipMode mode, bool ok, int step, const char* address) {
    if (mode == TipMode::Retry) {
        if (tips_.size() > 3) tipText_ = FormatTipText(WideFromUtf8(tips_[3]), step);
    } else if (ok) {
        if (tips_.size() >= 2) tipText_ = FormatTipText(WideFromUtf8(tips_[1]), step);
    } else if (tips_.size() > 2) {
        tipText_ = WideFromUtf8(tips_[2]) + WideFromUtf8(address ? address : "");
    }
}

void UpdateDlg::CheckReady() {
    if (!frameReady_ || !dictReady_) return;
    KillTimer(kDispatchTimer);
    StopListening();
    // From here on answers may arrive on the server's thread: the dialog takes none.
    SetUpdateActive(false);
    PrepareServer();
    FileSrvStartProcessing();
    SendMessage(WM_CLOSE);
    ravlib::LogMessage(ravlib::kLogInfo, L"launch: update dialog closed");
    host_.SetGoOnToGame();
}

void UpdateDlg::PrepareServer() {
    const LauncherSettings& settings = host_.config().settings();
    FileSrvLoadDictionary(CachePath(settings.hashdicttxt).c_str());
    FileSrvSetLocalDir(host_.cacheDirectory().c_str());
    FileSrvSetResourceBase(host_.cdnAddress().c_str());
    FileSrvSetResourceHosts(pageAddress_.c_str(), settings.resourceHosts);
    FileSrvSetLauncherFiles({WideFromUtf8(settings.hashdicttxt), WideFromUtf8(settings.hashdictzip), WideFromUtf8(settings.hashkey),
                             WideFromUtf8(settings.swf), kUpdateBatchName},
                            WideFromUtf8(UrlFileName(settings.exeUrl)));
}

std::wstring UpdateDlg::CachePath(const char* utf8Name) const {
    return host_.cacheDirectory() + WideFromUtf8(utf8Name ? utf8Name : "");
}

std::string UpdateDlg::Tick() const {
    return std::to_string(static_cast<int32_t>(GetTickCount()));
}

void UpdateDlg::Paint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (!background_.IsNull()) {
        CMemoryDC memory(dc);
        CSelectObject selectBackground(memory.get(), static_cast<HBITMAP>(background_));
        BitBlt(dc, 0, 0, background_.GetWidth(), background_.GetHeight(), memory.get(), 0, 0, SRCCOPY);
    }
    {
        CSelectObject selectFont(dc, font_.get());
        SetTextColor(dc, 0x2080FF);
        SetBkMode(dc, TRANSPARENT);
        TextOutW(dc, 58, 52, tipText_.c_str(), static_cast<int>(tipText_.size()));
    }
    EndPaint(m_hWnd, &paint);
}

LRESULT UpdateDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        Paint();
        return 0;
    case kAnswersQueuedMessage:
        if (listening_) DispatchAnswers();
        return 0;
    case WM_TIMER:
        if (wParam == kDispatchTimer) {
            DispatchAnswers();
            return 0;
        }
        if (wParam > kRetryTimer && wParam <= kRetryTimer + kDownloadGameFrame) {
            const uint32_t kind = static_cast<uint32_t>(wParam - kRetryTimer);
            KillTimer(wParam);
            // Retry looks at the clock again: a timer may end a little early.
            const std::string address = retryAddress_[kind];
            if (IsUpdateActive()) Retry(kind, address.c_str());
            return 0;
        }
        break;
    case WM_DESTROY:
        SetUpdateActive(false);
        StopListening();
        KillTimer(kDispatchTimer);
        for (uint32_t kind = kDownloadGamePage; kind <= kDownloadGameFrame; ++kind) KillTimer(kRetryTimer + kind);
        break;
    }
    return CDialog::WindowProc(message, wParam, lParam);
}

BOOL UpdateDlg::PreTranslateMessage(MSG* message) {
    switch (message->message) {
    case WM_KEYDOWN:
        if (message->wParam == VK_RETURN || message->wParam == VK_ESCAPE) return FALSE;
        break;
    case WM_RBUTTONDOWN:
        return TRUE;
    case WM_LBUTTONDOWN:
        lastMouse_ = message->pt;
        dragging_ = true;
        break;
    case WM_LBUTTONUP:
        dragging_ = false;
        break;
    case WM_MOUSEMOVE:
        if (dragging_) {
            POINT now = message->pt;
            if (now.x != lastMouse_.x || now.y != lastMouse_.y) {
                RECT rect = GetWindowRect();
                SetWindowPos(nullptr, rect.left + now.x - lastMouse_.x, rect.top + now.y - lastMouse_.y, 0, 0,
                             SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
                lastMouse_ = now;
            }
            return TRUE;
        }
        break;
    }
    return CDialog::PreTranslateMessage(message);
}

bool UpdateDlg::OnCommand(WORD id, WORD code, HWND) {
    if (id != kRestartButtonId || code != BN_CLICKED) return false;
    SetUpdateActive(false);
    StartNewLauncher();
    EndDialog(IDCANCEL);
    return true;
}

void UpdateDlg::StartNewLauncher() {
    wchar_t path[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    // Quoted, so that a path with spaces starts this program and no other.
    StartDetached(nullptr, std::wstring(L"\"") + path + L"\"", 0, SW_SHOWDEFAULT);
}
