// Screenshots of windows as test artifacts; compiled into the test programs that take them
// (they link GDI+).
#include "support/test_support.h"

#include <ole2.h>
#include <gdiplus.h>

namespace testing_support {

bool SaveWindowShot(HWND window, const std::wstring& fileName) {
    RECT rect;
    if (!GetWindowRect(window, &rect) || rect.right <= rect.left || rect.bottom <= rect.top) return false;
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    bool saved = false;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
        CreateDirectoryW(L"artifacts", nullptr);
        // The PNG encoder's class id.
        const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
        {
            Gdiplus::Bitmap picture(bitmap, nullptr);
            std::wstring path = L"artifacts\\" + fileName;
            saved = picture.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
        }
        Gdiplus::GdiplusShutdown(token);
    }
    DeleteObject(bitmap);
    return saved;
}

}  // namespace testing_support
