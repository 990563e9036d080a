// GDI bitmap helpers.
#pragma once

#include <windows.h>

// A new bitmap holding the rectangle (x, y, width, height) of `source`; the caller owns
// it. The source is unchanged. Returns null when a device context or bitmap cannot be made.
HBITMAP CopyBitmapRect(HBITMAP source, int x, int y, int width, int height);
