// A decoded picture held as a 32-bit top-down DIB section, decoded with GDI+.
// Pictures with an alpha channel keep it (straight, not premultiplied).
#pragma once

#include <windows.h>
#include <objidl.h>
#include <stdint.h>

class CImage {
public:
    CImage() = default;
    ~CImage() { Destroy(); }
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    // Decodes a PNG, BMP, JPEG or GIF from the stream. GDI+ must be running.
    HRESULT Load(IStream* stream);
    void Destroy();

    bool IsNull() const { return bitmap_ == nullptr; }
    int GetWidth() const { return width_; }
    int GetHeight() const { return height_; }
    int GetBPP() const { return bitmap_ ? 32 : 0; }
    int GetPitch() const { return width_ * 4; }
    bool HasAlphaChannel() const { return hasAlpha_; }
    // Pixel row y starts at GetBits() + y * GetPitch(); each pixel is B, G, R, A.
    uint8_t* GetBits() const { return bits_; }
    COLORREF GetPixel(int x, int y) const;
    operator HBITMAP() const { return bitmap_; }

    // Draws the whole picture at (x, y) scaled to width × height; blends by the
    // alpha channel when the picture has one.
    BOOL Draw(HDC dc, int x, int y, int width, int height) const;

private:
    HBITMAP bitmap_ = nullptr;
    uint8_t* bits_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    bool hasAlpha_ = false;
    mutable HBITMAP premultiplied_ = nullptr;  // made on first alpha draw
};
