#include "framework/image.h"

#include <ole2.h>
#include <gdiplus.h>

// A 32-bit DIB section whose first row is the top one.
static HBITMAP CreateTopDownDib(int width, int height, void** bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

HRESULT CImage::Load(IStream* stream) {
    Destroy();
    if (!stream) return E_POINTER;
    Gdiplus::Bitmap decoded(stream, FALSE);
    if (decoded.GetLastStatus() != Gdiplus::Ok) return E_FAIL;
    int width = static_cast<int>(decoded.GetWidth());
    int height = static_cast<int>(decoded.GetHeight());
    if (width <= 0 || height <= 0) return E_FAIL;

    void* bits = nullptr;
    HBITMAP bitmap = CreateTopDownDib(width, height, &bits);
    if (!bitmap) return E_OUTOFMEMORY;

    Gdiplus::BitmapData data = {};
    data.Width = width;
    data.Height = height;
    data.Stride = width * 4;
    data.PixelFormat = PixelFormat32bppARGB;
    data.Scan0 = bits;
    Gdiplus::Rect whole(0, 0, width, height);
    if (decoded.LockBits(&whole, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                         PixelFormat32bppARGB, &data) != Gdiplus::Ok) {
        DeleteObject(bitmap);
        return E_FAIL;
    }
    decoded.UnlockBits(&data);

    bitmap_ = bitmap;
    bits_ = static_cast<uint8_t*>(bits);
    width_ = width;
    height_ = height;
    hasAlpha_ = Gdiplus::IsAlphaPixelFormat(decoded.GetPixelFormat()) != FALSE;
    return S_OK;
}

void CImage::Destroy() {
    if (premultiplied_) DeleteObject(premultiplied_);
    if (bitmap_) DeleteObject(bitmap_);
    premultiplied_ = nullptr;
    bitmap_ = nullptr;
    bits_ = nullptr;
    width_ = height_ = 0;
    hasAlpha_ = false;
}

COLORREF CImage::GetPixel(int x, int y) const {
    if (!bits_ || x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
    const uint8_t* p = bits_ + static_cast<size_t>(y) * GetPitch() + static_cast<size_t>(x) * 4;
    return RGB(p[2], p[1], p[0]);
}

BOOL CImage::Draw(HDC dc, int x, int y, int width, int height) const {
    if (!bitmap_ || !dc) return FALSE;
    HDC source = CreateCompatibleDC(dc);
    if (!source) return FALSE;
    BOOL drawn;
    if (hasAlpha_) {
        if (!premultiplied_) {
            void* bits = nullptr;
            premultiplied_ = CreateTopDownDib(width_, height_, &bits);
            if (premultiplied_) {
                const uint8_t* from = bits_;
                uint8_t* to = static_cast<uint8_t*>(bits);
                size_t count = static_cast<size_t>(width_) * height_;
                for (size_t i = 0; i < count; ++i, from += 4, to += 4) {
                    unsigned alpha = from[3];
                    to[0] = static_cast<uint8_t>(from[0] * alpha / 255);
                    to[1] = static_cast<uint8_t>(from[1] * alpha / 255);
                    to[2] = static_cast<uint8_t>(from[2] * alpha / 255);
                    to[3] = static_cast<uint8_t>(alpha);
                }
            }
        }
        HGDIOBJ old = SelectObject(source, premultiplied_ ? premultiplied_ : bitmap_);
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        drawn = AlphaBlend(dc, x, y, width, height, source, 0, 0, width_, height_, blend);
        SelectObject(source, old);
    } else {
        HGDIOBJ old = SelectObject(source, bitmap_);
        SetStretchBltMode(dc, COLORONCOLOR);
        drawn = StretchBlt(dc, x, y, width, height, source, 0, 0, width_, height_, SRCCOPY);
        SelectObject(source, old);
    }
    DeleteDC(source);
    return drawn;
}
