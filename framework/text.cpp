#include "framework/text.h"

#include <windows.h>
#include <stdlib.h>

#include "framework/check.h"

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
    const std::string_view narrow(text ? text : "");
    const Encoding encoding = utf8 ? Encoding::kUtf8 : Encoding::kAnsi;
    const size_t units = WideLength(narrow, encoding, Unconvertible::kReplace);
    if (units == 0) {
        g_empty[0] = L'\0';
        return g_empty;
    }
    const size_t needed = 4 * (units + 1) + 4;
    if (g_wideBufferBytes < needed) {
        wchar_t* grown = static_cast<wchar_t*>(realloc(g_wideBuffer, needed));
        if (!grown) {
            g_empty[0] = L'\0';
            return g_empty;
        }
        g_wideBuffer = grown;
        g_wideBufferBytes = needed;
    }
    WideFromNarrow(narrow, encoding, Unconvertible::kReplace, g_wideBuffer, g_wideBufferBytes / sizeof(wchar_t));
    return g_wideBuffer;
}

void FreeToWideBuffer() {
    free(g_wideBuffer);
    g_wideBuffer = nullptr;
    g_wideBufferBytes = 0;
    g_bufferThread = 0;
}
