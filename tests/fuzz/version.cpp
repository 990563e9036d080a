// Version numbers from the version file. The input is the file's text; its second half
// is read as a second version to compare with. Beyond surviving any input: a version
// written back as "major.minor" reads the same, and the order is a strict total order
// (never newer than itself, never both ways, one way unless equal).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "fuzz_check.h"
#include "update/version_number.h"

namespace {

bool Same(const VersionNumber& a, const VersionNumber& b) { return a.major == b.major && a.minor == b.minor; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const VersionNumber first = ParseVersion(text, size);
    const VersionNumber second = ParseVersion(text + size / 2, size - size / 2);

    char written[32];
    const int length = snprintf(written, sizeof written, "%d.%d", first.major, first.minor);
    Check(Same(ParseVersion(written, static_cast<size_t>(length)), first));

    Check(!IsNewerVersion(first, first));
    const bool newer = IsNewerVersion(first, second);
    const bool older = IsNewerVersion(second, first);
    Check(!(newer && older));
    Check(newer || older || Same(first, second));
    return 0;
}
