#include "framework/encoding.h"

#include <windows.h>
#include <limits.h>

#include <algorithm>

namespace {

UINT CodePage(Encoding encoding) {
    switch (encoding) {
    case Encoding::kUtf8:
        return CP_UTF8;
    case Encoding::kAnsi:
        return CP_ACP;
    case Encoding::kOem:
        return CP_OEMCP;
    }
    return CP_ACP;
}

// The units `text` converts to, written to out[room] unless `out` is null; 0 when the
// text is empty, does not fit or cannot be converted.
int ConvertToWide(std::string_view text, Encoding from, Unconvertible unconvertible, wchar_t* out, int room) {
    if (text.empty() || text.size() > INT_MAX) return 0;
    const DWORD flags = unconvertible == Unconvertible::kFail ? MB_ERR_INVALID_CHARS : 0;
    return MultiByteToWideChar(CodePage(from), flags, text.data(), static_cast<int>(text.size()), out, room);
}

int ConvertToNarrow(std::wstring_view text, Encoding to, Unconvertible unconvertible, char* out, int room) {
    if (text.empty() || text.size() > INT_MAX) return 0;
    const int length = static_cast<int>(text.size());
    const UINT codePage = CodePage(to);
    if (unconvertible == Unconvertible::kReplace)
        return WideCharToMultiByte(codePage, 0, text.data(), length, out, room, nullptr, nullptr);
    if (to == Encoding::kUtf8)
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, out, room, nullptr, nullptr);
    // Neither a best fit nor the default character: either would stand for another text.
    BOOL usedDefault = FALSE;
    const int units =
        WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), length, out, room, nullptr, &usedDefault);
    return usedDefault ? 0 : units;
}

int Room(size_t capacity) { return static_cast<int>(std::min<size_t>(capacity - 1, INT_MAX)); }

// Terminates what a conversion wrote to out[capacity]: `units` of text, or nothing when it
// failed on a text that was not empty.
template <class Char>
bool Terminate(Char* out, bool empty, int units, size_t* length) {
    const bool converted = empty || units > 0;
    const size_t written = converted ? static_cast<size_t>(units) : 0;
    out[written] = Char();
    if (length) *length = written;
    return converted;
}

}  // namespace

bool WideFromNarrow(std::string_view text, Encoding from, Unconvertible unconvertible, wchar_t* out,
                    size_t capacity, size_t* length) {
    if (length) *length = 0;
    if (capacity == 0) return false;
    // Measured first: a conversion into a buffer too short may write part of the text
    // (half a surrogate pair) and still report success.
    const int room = Room(capacity);
    const int needed = ConvertToWide(text, from, unconvertible, nullptr, 0);
    const int units = needed > 0 && needed <= room ? ConvertToWide(text, from, unconvertible, out, room) : 0;
    return Terminate(out, text.empty(), units, length);
}

bool NarrowFromWide(std::wstring_view text, Encoding to, Unconvertible unconvertible, char* out, size_t capacity,
                    size_t* length) {
    if (length) *length = 0;
    if (capacity == 0) return false;
    const int room = Room(capacity);
    const int needed = ConvertToNarrow(text, to, unconvertible, nullptr, 0);
    const int units = needed > 0 && needed <= room ? ConvertToNarrow(text, to, unconvertible, out, room) : 0;
    return Terminate(out, text.empty(), units, length);
}

size_t WideLength(std::string_view text, Encoding from, Unconvertible unconvertible) {
    return static_cast<size_t>(std::max(ConvertToWide(text, from, unconvertible, nullptr, 0), 0));
}

size_t NarrowLength(std::wstring_view text, Encoding to, Unconvertible unconvertible) {
    return static_cast<size_t>(std::max(ConvertToNarrow(text, to, unconvertible, nullptr, 0), 0));
}

namespace {

std::wstring WideFrom(std::string_view text, Encoding from) {
    const size_t units = WideLength(text, from, Unconvertible::kReplace);
    std::wstring wide(units, L'\0');
    // Measured already: the conversion fills the string, whose own terminator follows.
    if (units == 0 || ConvertToWide(text, from, Unconvertible::kReplace, &wide[0], static_cast<int>(units)) <= 0)
        return std::wstring();
    return wide;
}

std::string NarrowFrom(std::wstring_view text, Encoding to, Unconvertible unconvertible) {
    const size_t bytes = NarrowLength(text, to, unconvertible);
    std::string narrow(bytes, '\0');
    if (bytes == 0 || ConvertToNarrow(text, to, unconvertible, &narrow[0], static_cast<int>(bytes)) <= 0)
        return std::string();
    return narrow;
}

}  // namespace

std::wstring WideFromUtf8(std::string_view text) { return WideFrom(text, Encoding::kUtf8); }

std::string Utf8FromWide(std::wstring_view text) { return NarrowFrom(text, Encoding::kUtf8, Unconvertible::kReplace); }

std::wstring WideFromAnsi(std::string_view text) { return WideFrom(text, Encoding::kAnsi); }

std::string AnsiFromWide(std::wstring_view text) { return NarrowFrom(text, Encoding::kAnsi, Unconvertible::kReplace); }

bool ExactAnsiFromWide(std::wstring_view text, std::string* ansi) {
    ansi->clear();
    if (text.empty()) return true;
    // A UTF-8 ANSI code page represents everything and refuses the default-character query.
    if (GetACP() == CP_UTF8) {
        *ansi = NarrowFrom(text, Encoding::kUtf8, Unconvertible::kReplace);
        return !ansi->empty();
    }
    *ansi = NarrowFrom(text, Encoding::kAnsi, Unconvertible::kFail);
    return !ansi->empty();
}
