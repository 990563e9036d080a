// The launcher's version numbers: the version file's text read as major and minor, and
// their order. Portable byte-level code: no Windows headers.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct VersionNumber {
    int32_t major;
    int32_t minor;
};

// The first two "."-separated pieces of text[0 .. length) read as decimal numbers the way
// strtok and atoi read them: empty pieces are skipped, a piece counts up to its first
// non-digit, a missing piece is 0, further pieces are ignored. The text ends at length
// or at a NUL byte, whichever comes first.
VersionNumber ParseVersion(const char* text, size_t length);

// Whether published is a later version than local (major first, then minor).
bool IsNewerVersion(const VersionNumber& published, const VersionNumber& local);
