// Text conversions shared by the windows.
#pragma once

#include <windows.h>
#include <stddef.h>

#include <string>
#include <string_view>

// Narrow text to UTF-16, from UTF-8 when `utf8` is set, else from the ANSI code page.
// The result lives in one process-wide buffer that the next call overwrites: copy it
// before converting again. Main thread only. Never returns null.
const wchar_t* ToWide(const char* text, bool utf8);
// Frees the buffer of ToWide (the next call allocates it again).
void FreeToWideBuffer();

// UTF-16 to the OEM code page into buffer (size in bytes, terminator included).
// Returns 1 on success, 0 when the text does not fit.
int ToOemText(const wchar_t* text, char* buffer, int size);

// Conversions that return their result, for any thread. Text is taken with its length, so
// an embedded NUL converts like any other character. What has no form in the target is
// replaced (U+FFFD for bytes that are not UTF-8; the code page's default character, or
// its best fit, for ANSI); empty input, or a conversion the system refuses, gives empty text.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromAnsi(std::string_view text);
std::string AnsiFromWide(std::wstring_view text);

// `text` in the ANSI code page exactly: false, with `ansi` empty, when a character has no
// form there (no best fit, no default character).
bool ExactAnsiFromWide(std::wstring_view text, std::string* ansi);
