// The text rules of what a connection may ask for. The input is one text. Beyond
// surviving any input: a normalised directory normalises to itself and contains itself,
// a cache-safe name joined to a directory stays inside it, and every parsed host and
// port reads back the same from its written form and is allowed by its own entry.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "fuzz_check.h"
#include "server/request_rules.h"

namespace {

enum { kDirectoryBytes = 260 };

bool SameBytes(const char* a, size_t aLength, const char* b, size_t bLength) {
    return aLength == bLength && memcmp(a, b, aLength) == 0;
}

void CheckDirectory(const char* text) {
    char out[kDirectoryBytes];
    if (NormaliseDirectory(text, out, sizeof out) != kDirectoryAccepted) {
        Check(out[0] == '\0');
        return;
    }
    char again[kDirectoryBytes];
    Check(NormaliseDirectory(out, again, sizeof again) == kDirectoryAccepted && strcmp(out, again) == 0);
    size_t below = 0;
    Check(IsWithinDirectory(out, out, SameBytes, &below) && out[below] == '\0');
}

void CheckCacheName(const char* name) {
    if (!IsCacheSafeName(name)) return;
    const char kBase[] = "C:\\cache\\";
    const std::string joined = kBase + std::string(name);
    char out[kDirectoryBytes];
    if (NormaliseDirectory(joined.c_str(), out, sizeof out) != kDirectoryAccepted) return;
    size_t below = 0;
    Check(IsWithinDirectory(kBase, out, SameBytes, &below) && out[below] != '\0');
}

void CheckEntryRoundTrip(const HostAddress& entry) {
    char text[kHostBytes + 8];
    const int length = entry.port ? snprintf(text, sizeof text, "%s:%u", entry.host, entry.port)
                                  : snprintf(text, sizeof text, "%s", entry.host);
    HostAddress back;
    Check(ParseHostEntry(text, static_cast<size_t>(length), &back));
    Check(strcmp(back.host, entry.host) == 0 && back.port == entry.port);
}

void CheckAddress(const char* text) {
    HostAddress address;
    uint32_t defaultPort = 0;
    if (!ParseResourceAddress(text, &address, &defaultPort)) return;
    Check(address.host[0] != '\0' && address.port >= 1 && address.port <= 65535);
    Check(defaultPort == 80 || defaultPort == 443);
    CheckEntryRoundTrip(address);
    Check(IsAllowedHost(address, address, defaultPort));
    HostAddress anyPort = address;
    anyPort.port = 0;
    Check(IsAllowedHost(anyPort, address, defaultPort) == (address.port == defaultPort));
}

void CheckHostList(const char* text) {
    HostAddress entries[4];
    size_t refused = 0;
    const size_t stored = ParseHostList(text, entries, 4, &refused);
    Check(stored <= 4);
    for (size_t i = 0; i < stored; ++i) CheckEntryRoundTrip(entries[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckDirectory(text.c_str());
    CheckCacheName(text.c_str());
    CheckAddress(text.c_str());
    CheckHostList(text.c_str());
    IsDosDeviceName(text.data(), text.size());
    ArePlainComponents(text.data(), text.size(), '\\');
    return 0;
}
