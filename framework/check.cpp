#include "framework/check.h"

#if defined(LAUNCHER_CONTRACT_CHECKS)

#include <windows.h>
#include <stdio.h>

void ContractBroken(const char* rule, const char* file, int line) {
    char text[512];
    snprintf(text, sizeof text, "%s:%d: contract broken: %s\n", file, line, rule);
    fputs(text, stderr);
    fflush(stderr);
    OutputDebugStringA(text);
    // Not abort(): its message box would wait for a user that a test run does not have.
    TerminateProcess(GetCurrentProcess(), 3);
    for (;;) {
    }
}

#endif
