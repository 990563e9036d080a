// Conversions between UTF-16 and narrow text (UTF-8, the ANSI and the OEM code page), for
// any thread. Text is taken with its length, so an embedded NUL converts like any other
// character.
#pragma once

#include <stddef.h>

#include <string>
#include <string_view>

enum class Encoding { kUtf8, kAnsi, kOem };

// What a conversion does with text that has no exact form in the other encoding.
enum class Unconvertible {
    // Replaced: U+FFFD for bytes that are not UTF-8 and for a lone surrogate; the code
    // page's best fit or default character for a character it lacks.
    kReplace,
    // The conversion fails: bytes that are not UTF-8 (or not of the code page), a lone
    // surrogate, a character the code page has no exact form for.
    kFail,
};

// Bounded conversions into a caller's buffer of `capacity` units: the text, then a
// terminator. True, with *length (when asked for) the units before the terminator; false
// when the text and its terminator do not fit, or when the text has no exact form and
// `unconvertible` is kFail: `out` then holds empty text (unless `capacity` is 0).
bool WideFromNarrow(std::string_view text, Encoding from, Unconvertible unconvertible, wchar_t* out,
                    size_t capacity, size_t* length = nullptr);
bool NarrowFromWide(std::wstring_view text, Encoding to, Unconvertible unconvertible, char* out, size_t capacity,
                    size_t* length = nullptr);

// The units those conversions give, without the terminator; 0 for empty text and for text
// they cannot convert.
size_t WideLength(std::string_view text, Encoding from, Unconvertible unconvertible);
size_t NarrowLength(std::wstring_view text, Encoding to, Unconvertible unconvertible);

// Conversions that return their result. What has no form in the target is replaced (as
// Unconvertible::kReplace); empty input, or a conversion the system refuses, gives empty text.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromAnsi(std::string_view text);
std::string AnsiFromWide(std::wstring_view text);

// `text` in the ANSI code page exactly: false, with `ansi` empty, when a character has no
// form there (no best fit, no default character).
bool ExactAnsiFromWide(std::wstring_view text, std::string* ansi);
