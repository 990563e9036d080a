#include "flash/flash_dialog.h"

#include <shellapi.h>
#include <wchar.h>

#include <string>

#include "framework/text.h"

namespace {

// The movie calls host functions by name; longer texts are cut to this many characters.
const size_t kCommandTextLimit = 63;

void OpenInBrowser(const char* url) { ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOW); }

// The first double-quoted part of a request: in the control's invoke format, the name of
// the function the movie calls. False when there is no such part.
bool CalledFunctionName(const wchar_t* request, std::wstring* name) {
    const wchar_t* open = wcschr(request, L'"');
    if (!open) return false;
    const wchar_t* close = wcschr(open + 1, L'"');
    if (!close) return false;
    size_t length = static_cast<size_t>(close - (open + 1));
    if (length > kCommandTextLimit) length = kCommandTextLimit;
    name->assign(open + 1, length);
    return true;
}

}  // namespace

CFlashDialog::CFlashDialog(LauncherHost& host)
    : CDialog(IDD),
      host_(host),
      movie_(std::make_unique<CShockwaveFlash>()),
      events_(this, kMovieControlId),
      openLink_(OpenInBrowser) {}

BOOL CFlashDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    MoveWindow(0, 0, width, height, TRUE);
    if (movie_) {
        const std::wstring title = ToWide(host_.config().settings().title, true);
        SetWindowText(title.c_str());
        const RECT screen = {0, 0, width, height};
        if (movie_->Create(title.c_str(), WS_CHILD | WS_VISIBLE, screen, this, kMovieControlId))
            events_.Advise(*movie_);
        LoadPackageMovie(host_.config(), movie_.get(), L"config/launcher.swf", packageMovie_);
        if (movie_->GetSafeHwnd()) movie_->MoveWindow(GetClientRect(), TRUE);
        MakeWhiteTransparent();
    }
    return TRUE;
}

// Layered with white as the colour key. Systems without layered windows keep the splash
// opaque.
void CFlashDialog::MakeWhiteTransparent() {
    using SetLayeredWindowAttributesFunction = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
    ModifyStyleEx(0, WS_EX_LAYERED);
    HMODULE user32 = LoadLibraryW(L"User32.dll");
    if (!user32) return;
    auto setAttributes = reinterpret_cast<SetLayeredWindowAttributesFunction>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetLayeredWindowAttributes")));
    if (setAttributes) setAttributes(m_hWnd, RGB(255, 255, 255), 0, LWA_COLORKEY);
    FreeLibrary(user32);
}

LRESULT CFlashDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        // The control goes with the window; the next run advises its new control.
        events_.Unadvise();
        return CDialog::WindowProc(message, wParam, lParam);
    default:
        return CDialog::WindowProc(message, wParam, lParam);
    }
}

BOOL CFlashDialog::PreTranslateMessage(MSG* message) {
    switch (message->message) {
    case WM_KEYDOWN:
        // Enter and Escape belong to the movie and never end the splash.
        if (message->wParam == VK_RETURN || message->wParam == VK_ESCAPE) return FALSE;
        break;
    case WM_RBUTTONDOWN:
        // The movie's context menu never opens.
        return TRUE;
    case WM_LBUTTONDOWN:
        leftButtonDown_ = true;
        break;
    case WM_LBUTTONUP:
        leftButtonDown_ = false;
        break;
    case WM_MOUSEMOVE:
        // The movie does not see the mouse move while the left button is held. A button
        // released outside the window sent us no WM_LBUTTONUP: the move tells.
        if (leftButtonDown_ && (message->wParam & MK_LBUTTON)) return TRUE;
        leftButtonDown_ = false;
        break;
    default:
        break;
    }
    return CDialog::PreTranslateMessage(message);
}

void CFlashDialog::OnOK() {
    HWND parent = GetParent();
    if (parent) ::SendMessageW(parent, WM_CLOSE, 0, 0);
    CDialog::OnOK();
}

void CFlashDialog::OnFSCommand(UINT, const wchar_t* command, const wchar_t*) {
    if (wcscmp(command, L"quit") == 0) EndDialog(IDCANCEL);
}

bool CFlashDialog::OpenLinkCommand(const std::wstring& text) {
    if (text.size() < 2 || text[0] != L'!') return false;
    const long number = wcstol(text.c_str() + 1, nullptr, 10);
    const std::vector<LinkEntry>& links = host_.config().links();
    if (number < 1 || static_cast<unsigned long>(number) > links.size()) return false;
    if (openLink_) openLink_(links[static_cast<size_t>(number - 1)].url);
    return true;
}

void CFlashDialog::OnFlashCall(UINT, const wchar_t* request) {
    std::wstring text;
    if (!CalledFunctionName(request, &text)) return;
    if (OpenLinkCommand(text)) return;
    if (text == L"quit") {
        OnOK();
    } else if (text == L"minimal") {
        ShowWindow(SW_MINIMIZE);
    } else if (text == L"end") {
        try {
            movie_->Stop();
        } catch (const CDispatchException&) {
            // A control that cannot stop is left as it is; the splash ends either way.
        }
        OnOK();
        // The login window runs modally from here; the splash stays behind it until then.
        host_.ShowLoginWindow();
    }
}
