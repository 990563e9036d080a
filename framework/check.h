// Contract checks: rules a caller of the framework must keep (a wrapper used on a window
// that does not exist, a window created twice over one object, a dialog ended that was
// never shown). Breaking one is a fault in our code, never something a user's machine
// can cause. The test build (LAUNCHER_CONTRACT_CHECKS) ends the program at once, saying
// which rule and where; the shipped build leaves the checks out and goes on as before.
// What a user's machine can make fail keeps returning a value and logging instead.
#pragma once

#if defined(LAUNCHER_CONTRACT_CHECKS)
[[noreturn]] void ContractBroken(const char* rule, const char* file, int line);
#define CONTRACT_CHECK(rule) ((rule) ? static_cast<void>(0) : ContractBroken(#rule, __FILE__, __LINE__))
#else
#define CONTRACT_CHECK(rule) static_cast<void>(0)
#endif
