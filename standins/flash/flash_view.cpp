#include "standins/flash/flash_view.h"

#include <vector>

#include "standins/flash/module.h"

namespace {

const wchar_t kViewClass[] = L"FlashStandinView";

}  // namespace

FlashStandinView::~FlashStandinView() { Destroy(); }

bool FlashStandinView::Create(HWND parent, const RECT& position, const wchar_t* text) {
    if (window_ || !parent) return false;
    HINSTANCE module = FlashStandinModule();
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    if (!GetClassInfoExW(module, kViewClass, &windowClass)) {
        windowClass.cbSize = sizeof windowClass;
        // The text stays centred: a new size repaints the whole window.
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = StaticWindowProc;
        windowClass.hInstance = module;
        windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<const wchar_t*>(IDC_ARROW));
        windowClass.lpszClassName = kViewClass;
        if (!RegisterClassExW(&windowClass)) return false;
    }
    HWND created = CreateWindowExW(0, kViewClass, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, position.left,
                                   position.top, position.right - position.left, position.bottom - position.top,
                                   parent, nullptr, module, this);
    return created != nullptr;
}

void FlashStandinView::Destroy() {
    if (window_) DestroyWindow(window_);
}

void FlashStandinView::SetText(const wchar_t* text) {
    if (!window_) return;
    SetWindowTextW(window_, text);
    InvalidateRect(window_, nullptr, TRUE);
}

void FlashStandinView::Move(const RECT& position) {
    if (!window_) return;
    MoveWindow(window_, position.left, position.top, position.right - position.left,
               position.bottom - position.top, TRUE);
}

void FlashStandinView::UnregisterWindowClass() { UnregisterClassW(kViewClass, FlashStandinModule()); }

LRESULT CALLBACK FlashStandinView::StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    FlashStandinView* view = reinterpret_cast<FlashStandinView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        view = static_cast<FlashStandinView*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        view->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
    }
    if (!view) return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = view->WindowProc(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        view->window_ = nullptr;
    }
    return result;
}

LRESULT FlashStandinView::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_KEYFIRST && message <= WM_KEYLAST && onKey_) onKey_(message, wParam);
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        OnPaint();
        return 0;
    case kWakeMessage:
        if (onWake_) onWake_();
        return 0;
    default:
        return DefWindowProcW(window_, message, wParam, lParam);
    }
}

void FlashStandinView::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    if (!dc) return;
    RECT client;
    GetClientRect(window_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_APPWORKSPACE));
    std::vector<wchar_t> text(static_cast<size_t>(GetWindowTextLengthW(window_)) + 1, L'\0');
    int length = GetWindowTextW(window_, text.data(), static_cast<int>(text.size()));
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    const UINT format = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
    RECT block = client;
    DrawTextW(dc, text.data(), length, &block, format | DT_CALCRECT);
    RECT area = client;
    const int spare = (client.bottom - client.top) - (block.bottom - block.top);
    if (spare > 0) area.top += spare / 2;
    DrawTextW(dc, text.data(), length, &area, format);
    SelectObject(dc, oldFont);
    EndPaint(window_, &paint);
}
