#include "framework/text.h"

#include <stdlib.h>
#include <string.h>

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
