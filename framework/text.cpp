#include "framework/text.h"

#include <stdlib.h>
#include <string.h>

#include "framework/check.h"

#include <limits.h>

namespace {
wchar_t* g_wideBuffer = nullptr;
size_t g_wideBufferBytes = 0;
wchar_t g_empty[1] = {L'\0'};
// The thread whose results live in the buffer: one thread only, the main thread.
DWORD g_bufferThread = 0;
}  // namespace

const wchar_t* ToWide(const char* text, bool utf8) {
    CONTRACT_CHECK(g_bufferThread == 0 || g_bufferThread == GetCurrentThreadId());
    g_bufferThread = GetCurrentThreadId();
    if (!text) text = "";
    UINT codePage = utf8 ? CP_UTF8 : CP_ACP;
    int chars = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (chars <= 0) {
        g_empty[0] = L'\0';
        return g_empty;
    }
    size_t needed = 4 * static_cast<size_t>(chars) + 4;
    if (g_wideBufferBytes < needed) {
        wchar_t* grown = static_cast<wchar_t*>(realloc(g_wideBuffer, needed));
        if (!grown) {
            g_empty[0] = L'\0';
            return g_empty;
        }
        g_wideBuffer = grown;
        g_wideBufferBytes = needed;
    }
    MultiByteToWideChar(codePage, 0, text, -1, g_wideBuffer, chars);
    return g_wideBuffer;
}

void FreeToWideBuffer() {
    free(g_wideBuffer);
    g_wideBuffer = nullptr;
    g_wideBufferBytes = 0;
    g_bufferThread = 0;
}

int ToOemText(const wchar_t* text, char* buffer, int size) {
    if (!text || !buffer || size <= 0) return 0;
    int needed = WideCharToMultiByte(CP_OEMCP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0 || needed > size) return 0;
    return WideCharToMultiByte(CP_OEMCP, 0, text, -1, buffer, size, nullptr, nullptr) > 0 ? 1 : 0;
}

namespace {

std::wstring WideFrom(UINT codePage, std::string_view text) {
    if (text.empty() || text.size() > INT_MAX) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (units <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    if (MultiByteToWideChar(codePage, 0, text.data(), length, &wide[0], units) != units) return std::wstring();
    return wide;
}

// `lossy` null: characters without a form are replaced; else set when one was.
std::string NarrowFrom(UINT codePage, DWORD flags, std::wstring_view text, BOOL* lossy) {
    if (text.empty() || text.size() > INT_MAX) return std::string();
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, lossy);
    if (bytes <= 0) return std::string();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(codePage, flags, text.data(), length, &narrow[0], bytes, nullptr, lossy) != bytes)
        return std::string();
    return narrow;
}

}  // namespace

std::wstring WideFromUtf8(std::string_view text) { return WideFrom(CP_UTF8, text); }

std::string Utf8FromWide(std::wstring_view text) { return NarrowFrom(CP_UTF8, 0, text, nullptr); }

std::wstring WideFromAnsi(std::string_view text) { return WideFrom(CP_ACP, text); }

std::string AnsiFromWide(std::wstring_view text) { return NarrowFrom(CP_ACP, 0, text, nullptr); }

bool ExactAnsiFromWide(std::wstring_view text, std::string* ansi) {
    ansi->clear();
    if (text.empty()) return true;
    // A UTF-8 ANSI code page represents everything and refuses the default-character query.
    if (GetACP() == CP_UTF8) {
        *ansi = NarrowFrom(CP_UTF8, 0, text, nullptr);
        return !ansi->empty();
    }
    BOOL lossy = FALSE;
    *ansi = NarrowFrom(CP_ACP, WC_NO_BEST_FIT_CHARS, text, &lossy);
    if (ansi->empty() || lossy) {
        ansi->clear();
        return false;
    }
    return true;
}
