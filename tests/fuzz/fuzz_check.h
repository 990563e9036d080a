// A property a fuzz target checks: when it fails, the target stops at once, and libFuzzer
// keeps the input as a finding.
#pragma once

inline void Check(bool condition) {
    if (!condition) __builtin_trap();
}
