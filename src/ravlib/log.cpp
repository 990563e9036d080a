#include "ravlib/log.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

#include <atomic>

#include "framework/encoding.h"
#include "framework/handles.h"
#include "ravlib/lock.h"

namespace ravlib {

namespace {

const int kBufferChars = 1024;
const int kMaxLineChars = kBufferChars - 1;
const int kSystemTextChars = 4096;

// The lock, the shared line buffer and the log file; created on first use and never
// destroyed, so that threads may still log while the process ends.
struct LogState {
    sync::lock::CCSLock lock;
    wchar_t buffer[kBufferChars];
    CHandle file;
};

LogState& State() {
    static LogState* state = new LogState();
    return *state;
}

std::atomic<LogSink> g_sink{nullptr};

// Formats into dest, which has room for `room` characters and a terminator; returns
// the length written (the text is cut at room characters).
int FormatInto(wchar_t* dest, int room, const wchar_t* format, va_list args) {
    if (room <= 0) {
        if (room == 0) *dest = L'\0';
        return 0;
    }
    dest[0] = L'\0';
    int n = _vsnwprintf(dest, static_cast<size_t>(room), format, args);
    if (n < 0 || n > room) {
        dest[room] = L'\0';
        n = static_cast<int>(wcsnlen(dest, static_cast<size_t>(room)));
    }
    dest[n] = L'\0';
    return n;
}

int PrintInto(wchar_t* dest, int room, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatInto(dest, room, format, args);
    va_end(args);
    return n;
}

// The file sink; runs under the log lock.
int FileSink(int level, const wchar_t* text, int length) {
    LogState& state = State();
    if (!state.file.valid()) return 0;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char head[96];
    const char* name = level == kLogInfo ? "info" : level == kLogError ? "error" : nullptr;
    int headLength =
        name ? snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%s] ", now.wYear,
                        now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                        now.wMilliseconds, name)
             : snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u.%03u [level %d] ",
                        now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                        now.wMilliseconds, level);
    if (headLength < 0) return 0;
    // A UTF-16 unit never needs more than 3 UTF-8 bytes.
    char line[sizeof head + kBufferChars * 3 + 2];
    memcpy(line, head, static_cast<size_t>(headLength));
    size_t textBytes = 0;
    if (length > kMaxLineChars) length = kMaxLineChars;
    if (length > 0)
        NarrowFromWide(std::wstring_view(text, static_cast<size_t>(length)), Encoding::kUtf8, Unconvertible::kReplace,
                       line + headLength, kBufferChars * 3, &textBytes);
    int total = headLength + static_cast<int>(textBytes);
    line[total++] = '\r';
    line[total++] = '\n';
    DWORD written = 0;
    if (!WriteFile(state.file.get(), line, static_cast<DWORD>(total), &written, nullptr)) return 0;
    return static_cast<int>(written);
}

}  // namespace

LogSink SetLogSink(LogSink sink) {
    LogState& state = State();
    sync::lock::CAutoLock guard(&state.lock);
    LogSink previous = g_sink.exchange(sink);
    if (previous == FileSink && sink != FileSink) state.file.Reset();
    return previous;
}

bool InstallFileLogSink(const wchar_t* path) {
    LogState& state = State();
    sync::lock::CAutoLock guard(&state.lock);
    if (!path || !*path) {
        if (g_sink.load() == FileSink) g_sink.store(nullptr);
        state.file.Reset();
        return true;
    }
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    state.file.Reset(file);
    g_sink.store(FileSink);
    return true;
}

int LogMessage(int level, const wchar_t* format, ...) {
    if (!g_sink.load()) return 0;
    LogState& state = State();
    sync::lock::CAutoLock guard(&state.lock);
    LogSink sink = g_sink.load();
    if (!sink || !format) return 0;
    va_list args;
    va_start(args, format);
    int length = FormatInto(state.buffer, kMaxLineChars, format, args);
    va_end(args);
    return sink(level, state.buffer, length);
}

int LogError(int code, const wchar_t* format, ...) {
    if (!g_sink.load()) return 0;
    LogState& state = State();
    sync::lock::CAutoLock guard(&state.lock);
    LogSink sink = g_sink.load();
    if (!sink || !format) return 0;
    va_list args;
    va_start(args, format);
    int length = FormatInto(state.buffer, kMaxLineChars, format, args);
    va_end(args);
    length += PrintInto(state.buffer + length, kMaxLineChars - length, L" %d ", code);
    int room = kMaxLineChars - length;
    if (room > 0) {
        int textLength = 0;
        // room + 1 places: the text may fill the line, the terminator goes behind it.
        FormatSystemError(code, state.buffer + length, room + 1, &textLength);
        length += textLength < room ? textLength : room;
    }
    return sink(kLogError, state.buffer, length);
}

int TrimSystemText(const wchar_t* text, int length) {
    while (length > 0) {
        wchar_t last = text[length - 1];
        if (last != L'\r' && last != L'\n' && last != L' ' && last != L'\t' && last != L'.' &&
            last != L'\x3002')
            break;
        --length;
    }
    return length;
}

wchar_t* FormatSystemError(int code, wchar_t* destination, int maxChars, int* outLength) {
    wchar_t text[kSystemTextChars];
    DWORD got = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        nullptr, static_cast<DWORD>(code), 0, text, kSystemTextChars, nullptr);
    int length = got > 0 && got < static_cast<DWORD>(kSystemTextChars) ? static_cast<int>(got) : 0;
    length = TrimSystemText(text, length);
    if (destination && maxChars > 0) {
        int copied = maxChars > length ? length : maxChars - 1;
        wmemcpy(destination, text, static_cast<size_t>(copied));
        destination[copied] = L'\0';
    }
    if (outLength) *outLength = length;
    return destination;
}

}  // namespace ravlib
