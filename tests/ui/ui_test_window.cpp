#include "ui_test_window.h"

namespace ui_testing {

namespace {

const wchar_t kHostClass[] = L"UiTestHost";

void RegisterHostClass() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kHostClass;
    RegisterClassExW(&windowClass);
}

}  // namespace

HostWindow::HostWindow(int x, int y, int width, int height) {
    RegisterHostClass();
    const RECT rect = {x, y, x + width, y + height};
    CreateEx(WS_EX_TOPMOST, kHostClass, L"ui test", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, rect, nullptr, 0);
    PumpPending();
}

HostWindow::~HostWindow() {
    DestroyWindow();
    PumpPending();
}

HostWindow* HostedTest::host_ = nullptr;

int HostWindow::Clicks(WORD id) const {
    int clicks = 0;
    for (const Command& command : commands)
        if (command.id == id && command.code == BN_CLICKED) ++clicks;
    return clicks;
}

LRESULT HostWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) commands.push_back(Command{LOWORD(wParam), HIWORD(wParam)});
    return CWnd::WindowProc(message, wParam, lParam);
}

void PumpPending() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        PumpPending();
    }
    return true;
}

COLORREF PixelAt(HWND window, int x, int y) {
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    HDC dc = GetDC(window);
    COLORREF color = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return color;
}

int CountPixels(HWND window, const RECT& area, COLORREF color, int tolerance) {
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    HDC dc = GetDC(window);
    int count = 0;
    auto within = [tolerance](int a, int b) { return a - b <= tolerance && b - a <= tolerance; };
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            COLORREF pixel = GetPixel(dc, x, y);
            if (within(GetRValue(pixel), GetRValue(color)) && within(GetGValue(pixel), GetGValue(color)) &&
                within(GetBValue(pixel), GetBValue(color)))
                ++count;
        }
    ReleaseDC(window, dc);
    return count;
}

HBITMAP PaintedBitmap(int width, int height, const std::function<void(HDC)>& paint) {
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    paint(dc);
    SelectObject(dc, previous);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

HBITMAP SolidBitmap(int width, int height, COLORREF color) {
    return PaintedBitmap(width, height, [&](HDC dc) {
        HBRUSH brush = CreateSolidBrush(color);
        RECT all = {0, 0, width, height};
        FillRect(dc, &all, brush);
        DeleteObject(brush);
    });
}

}  // namespace ui_testing
