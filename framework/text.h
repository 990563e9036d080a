// Text for the windows: the conversions, and ToWide's buffer shared on the main thread.
#pragma once

#include "framework/encoding.h"

// Narrow text to UTF-16, from UTF-8 when `utf8` is set, else from the ANSI code page.
// The result lives in one process-wide buffer that the next call overwrites: copy it
// before converting again. Main thread only. Never returns null.
const wchar_t* ToWide(const char* text, bool utf8);
// Frees the buffer of ToWide (the next call allocates it again).
void FreeToWideBuffer();
