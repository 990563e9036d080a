// Text conversions shared by the windows.
#pragma once

#include <windows.h>
#include <stddef.h>

// Narrow text to UTF-16, from UTF-8 when `utf8` is set, else from the ANSI code page.
// The result lives in one process-wide buffer that the next call overwrites: copy it
// before converting again. Main thread only. Never returns null.
const wchar_t* ToWide(const char* text, bool utf8);
// Frees the buffer of ToWide (the next call allocates it again).
void FreeToWideBuffer();

// UTF-16 to the OEM code page into buffer (size in bytes, terminator included).
// Returns 1 on success, 0 when the text does not fit.
int ToOemText(const wchar_t* text, char* buffer, int size);
