// The module's own bookkeeping: live objects for DllCanUnloadNow, and the module's
// handle (the test program or FlashStandin.dll, whichever holds this code).
#pragma once

#include <windows.h>

void FlashStandinObjectCreated();
void FlashStandinObjectDestroyed();
HMODULE FlashStandinModule();
