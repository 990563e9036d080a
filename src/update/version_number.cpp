#include "update/version_number.h"

#include <stdint.h>
#include <string.h>

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// atoi of text[0 .. length): leading white space, an optional sign, then digits up to
// the first non-digit. Values beyond 32 bits stop at the nearest bound.
int32_t ReadNumber(const char* text, size_t length) {
    size_t i = 0;
    while (i < length && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    int64_t value = 0;
    for (; i < length && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) {
            value = limit;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

VersionNumber ParseVersion(const char* text, size_t length) {
    VersionNumber version = {0, 0};
    if (!text) return version;
    const void* end = memchr(text, '\0', length);
    if (end) length = static_cast<size_t>(static_cast<const char*>(end) - text);
    int32_t* pieces[] = {&version.major, &version.minor};
    size_t i = 0;
    for (int32_t* piece : pieces) {
        while (i < length && text[i] == '.') ++i;
        if (i == length) break;
        const size_t start = i;
        while (i < length && text[i] != '.') ++i;
        *piece = ReadNumber(text + start, i - start);
    }
    return version;
}

bool IsNewerVersion(const VersionNumber& published, const VersionNumber& local) {
    if (published.major != local.major) return published.major > local.major;
    return published.minor > local.minor;
}
