#include "server/request_rules.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsControl(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

// Characters Windows does not take in a file name (besides the separators).
bool IsForbiddenInName(char c) {
    return IsControl(c) || strchr(":<>\"|?*", c) != nullptr;
}

bool EndsWithDotOrBlank(const char* component, size_t length) {
    return length > 0 && (component[length - 1] == '.' || component[length - 1] == ' ');
}

bool EqualsIgnoringAsciiCase(const char* a, size_t aLength, const char* b) {
    if (aLength != strlen(b)) return false;
    for (size_t i = 0; i < aLength; ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// Whether text starts with prefix, letter case aside (text may be shorter).
bool StartsWithIgnoringAsciiCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (AsciiLower(*text) != AsciiLower(*prefix)) return false;
    return true;
}

// The component of text that starts at *at and ends before the next separator (or the
// end); *at moves behind it.
void NextComponent(const char* text, size_t length, char separator, size_t* at, size_t* start,
                   size_t* componentLength) {
    *start = *at;
    while (*at < length && text[*at] != separator) ++*at;
    *componentLength = *at - *start;
    if (*at < length) ++*at;
}

bool IsHostCharacter(char c) {
    return IsAsciiLetter(c) || IsDigit(c) || c == '.' || c == '-' || c == '_';
}

// host[0 .. length) into entry->host when it is a plain host name.
bool CopyHost(const char* host, size_t length, HostAddress* entry) {
    if (length == 0 || length >= kHostBytes) return false;
    for (size_t i = 0; i < length; ++i)
        if (!IsHostCharacter(host[i])) return false;
    memcpy(entry->host, host, length);
    entry->host[length] = '\0';
    return true;
}

// Decimal digits[0 .. length) as a port 1 .. 65535.
bool ParsePort(const char* digits, size_t length, uint32_t* port) {
    if (length == 0 || length > 5) return false;
    uint32_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (!IsDigit(digits[i])) return false;
        value = value * 10 + static_cast<uint32_t>(digits[i] - '0');
    }
    if (value == 0 || value > 65535) return false;
    *port = value;
    return true;
}

// "host" or "host:port" of text[0 .. length); port 0 when none is written.
bool ParseHostAndPort(const char* text, size_t length, HostAddress* entry) {
    const char* colon = static_cast<const char*>(memchr(text, ':', length));
    const size_t hostLength = colon ? static_cast<size_t>(colon - text) : length;
    entry->port = 0;
    if (colon && !ParsePort(colon + 1, length - hostLength - 1, &entry->port)) return false;
    return CopyHost(text, hostLength, entry);
}

}  // namespace

DirectoryVerdict NormaliseDirectory(const char* text, char* out, size_t capacity) {
    if (out && capacity > 0) out[0] = '\0';
    if (!text || !out || capacity < 4) return kDirectoryTooLong;
    if (IsSeparator(text[0])) return IsSeparator(text[1]) ? kDirectoryNotLocal : kDirectoryNotAbsolute;
    if (!IsAsciiLetter(text[0]) || text[1] != ':' || !IsSeparator(text[2])) return kDirectoryNotAbsolute;

    // out holds the drive and the components taken so far, each followed by "\"; a ".."
    // goes back to the "\" before the last one.
    size_t used = 0;
    out[used++] = text[0];
    out[used++] = ':';
    out[used++] = '\\';
    const size_t root = used;
    const char* component = text + 3;
    for (;;) {
        size_t length = 0;
        while (component[length] && !IsSeparator(component[length])) {
            if (IsForbiddenInName(component[length])) {
                out[0] = '\0';
                return kDirectoryBadCharacter;
            }
            ++length;
        }
        if (length == 2 && component[0] == '.' && component[1] == '.') {
            if (used == root) {
                out[0] = '\0';
                return kDirectoryAboveRoot;
            }
            do --used;
            while (out[used - 1] != '\\');
        } else if (EndsWithDotOrBlank(component, length) && !(length == 1 && component[0] == '.')) {
            out[0] = '\0';
            return kDirectoryBadComponent;
        } else if (length > 0 && !(length == 1 && component[0] == '.')) {
            if (used + length + 1 >= capacity) {
                out[0] = '\0';
                return kDirectoryTooLong;
            }
            memcpy(out + used, component, length);
            used += length;
            out[used++] = '\\';
        }
        if (!component[length]) break;
        component += length + 1;
    }
    out[used] = '\0';
    return kDirectoryAccepted;
}

bool IsWithinDirectory(const char* base, const char* path, SameNameFunction same, size_t* below) {
    if (!base || !path || !same || !*base) return false;
    const size_t baseLength = strlen(base);
    const size_t pathLength = strlen(path);
    size_t baseAt = 0;
    size_t pathAt = 0;
    while (baseAt < baseLength) {
        if (pathAt >= pathLength) return false;
        size_t baseStart, baseComponent, pathStart, pathComponent;
        NextComponent(base, baseLength, '\\', &baseAt, &baseStart, &baseComponent);
        NextComponent(path, pathLength, '\\', &pathAt, &pathStart, &pathComponent);
        if (!same(base + baseStart, baseComponent, path + pathStart, pathComponent)) return false;
    }
    if (below) *below = pathAt;
    return true;
}

bool IsDosDeviceName(const char* name, size_t length) {
    if (!name) return false;
    // The device is named by what stands before the first dot, without trailing blanks.
    size_t stem = 0;
    while (stem < length && name[stem] != '.') ++stem;
    while (stem > 0 && name[stem - 1] == ' ') --stem;
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices)
        if (EqualsIgnoringAsciiCase(name, stem, device)) return true;
    if (stem < 4) return false;
    if (!EqualsIgnoringAsciiCase(name, 3, "com") && !EqualsIgnoringAsciiCase(name, 3, "lpt")) return false;
    if (stem == 4) return IsDigit(name[3]);
    // A superscript one, two or three in UTF-8: C2 B9, C2 B2, C2 B3.
    const unsigned char lead = static_cast<unsigned char>(name[3]);
    const unsigned char trail = static_cast<unsigned char>(name[4]);
    return stem == 5 && lead == 0xC2 && (trail == 0xB9 || trail == 0xB2 || trail == 0xB3);
}

namespace {

// A name Windows opens as it is written (see ArePlainComponents).
bool IsPlainComponent(const char* component, size_t length) {
    if (length == 0 || EndsWithDotOrBlank(component, length)) return false;
    for (size_t i = 0; i < length; ++i) {
        if (IsControl(component[i]) || component[i] == ':') return false;
        if (component[i] == '~' && i + 1 < length && IsDigit(component[i + 1])) return false;
    }
    return !IsDosDeviceName(component, length);
}

}  // namespace

bool ArePlainComponents(const char* path, size_t length, char separator) {
    if (!path) return false;
    size_t start = 0;
    for (size_t at = 0; at <= length; ++at) {
        if (at < length && path[at] != separator) continue;
        if (!IsPlainComponent(path + start, at - start)) return false;
        start = at + 1;
    }
    return true;
}

bool IsCacheSafeName(const char* name) {
    if (!name || name[0] == '/' || strchr(name, '\\')) return false;
    return ArePlainComponents(name, strlen(name), '/');
}

bool ParseResourceAddress(const char* text, HostAddress* address, uint32_t* defaultPort) {
    if (!text || !address || !defaultPort) return false;
    size_t schemeLength;
    if (StartsWithIgnoringAsciiCase(text, "http://")) {
        schemeLength = 7;
        *defaultPort = 80;
    } else if (StartsWithIgnoringAsciiCase(text, "https://")) {
        schemeLength = 8;
        *defaultPort = 443;
    } else {
        return false;
    }
    const size_t length = strlen(text);
    for (size_t i = 0; i < length; ++i)
        if (IsControl(text[i]) || strchr(" \\@#", text[i])) return false;
    const char* authority = text + schemeLength;
    const char* slash = strchr(authority, '/');
    const size_t authorityLength = slash ? static_cast<size_t>(slash - authority) : strlen(authority);
    if (!ParseHostAndPort(authority, authorityLength, address)) return false;
    if (address->port == 0) address->port = *defaultPort;
    return true;
}

bool ParseHostEntry(const char* text, size_t length, HostAddress* entry) {
    return text && entry && ParseHostAndPort(text, length, entry);
}

size_t ParseHostList(const char* list, HostAddress* entries, size_t capacity, size_t* refused) {
    size_t stored = 0;
    size_t notStored = 0;
    const size_t length = list ? strlen(list) : 0;
    size_t at = 0;
    while (at < length) {
        size_t start, entryLength;
        NextComponent(list, length, ',', &at, &start, &entryLength);
        while (entryLength > 0 && list[start] == ' ') {
            ++start;
            --entryLength;
        }
        while (entryLength > 0 && list[start + entryLength - 1] == ' ') --entryLength;
        if (entryLength == 0) continue;
        if (stored < capacity && ParseHostEntry(list + start, entryLength, &entries[stored]))
            ++stored;
        else
            ++notStored;
    }
    if (refused) *refused = notStored;
    return stored;
}

bool IsAllowedHost(const HostAddress& entry, const HostAddress& address, uint32_t defaultPort) {
    const uint32_t port = entry.port != 0 ? entry.port : defaultPort;
    return port == address.port && EqualsIgnoringAsciiCase(entry.host, strlen(entry.host), address.host);
}
