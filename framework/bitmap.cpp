#include "framework/bitmap.h"

HBITMAP CopyBitmapRect(HBITMAP source, int x, int y, int width, int height) {
    if (!source || width <= 0 || height <= 0) return nullptr;
    HDC screen = GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    HBITMAP copy = nullptr;
    if (from && to) {
        HGDIOBJ oldFrom = SelectObject(from, source);
        copy = CreateCompatibleBitmap(from, width, height);
        if (copy) {
            HGDIOBJ oldTo = SelectObject(to, copy);
            BitBlt(to, 0, 0, width, height, from, x, y, SRCCOPY);
            SelectObject(to, oldTo);
        }
        SelectObject(from, oldFrom);
    }
    if (to) DeleteDC(to);
    if (from) DeleteDC(from);
    ReleaseDC(nullptr, screen);
    return copy;
}
