// RAII owners for GDI objects and device contexts.
#pragma once

#include <windows.h>

// Owns one GDI object (bitmap, brush, font, region…) and deletes it.
template <typename Handle>
class CGdiObject {
public:
    CGdiObject() = default;
    explicit CGdiObject(Handle handle) : handle_(handle) {}
    ~CGdiObject() { Reset(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset(Handle handle = nullptr) {
        if (handle_ && handle_ != handle) DeleteObject(handle_);
        handle_ = handle;
    }
    Handle Release() {
        Handle handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    Handle handle_ = nullptr;
};

// A memory device context compatible with `dc` (the screen when null).
class CMemoryDC {
public:
    explicit CMemoryDC(HDC dc) : dc_(CreateCompatibleDC(dc)) {}
    ~CMemoryDC() {
        if (dc_) DeleteDC(dc_);
    }
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;

    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HDC dc_;
};

// Selects an object into a device context for the lifetime of this object.
class CSelectObject {
public:
    CSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
    ~CSelectObject() {
        if (previous_) SelectObject(dc_, previous_);
    }
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};
