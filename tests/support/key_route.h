// How a key pressed in a control that may use it travels: to the control first, to the
// dialog with what the control declines. Shared by the tests of the windows that host a
// page or a movie in the Flash stand-in; support/key_route.cpp is added to the program's
// sources beside the stand-in.
#pragma once

#include <windows.h>

#include <memory>

#include "standins/flash/flash_standin.h"
#include "support/test_support.h"

namespace testing_support {

// A key, whether Ctrl is held with it and whether a text field of the control has the
// focus, and the route its key-down should take (FlashStandin::KeyDownRoute).
struct KeyRouteCase {
    WPARAM key;
    bool withControl;
    bool inTextField;
    const char* route;
};

// Tells `control` where its focus is, forgets the keys it saw and posts the key's down and
// up messages to its window. The returned key (null without Ctrl) holds Ctrl down: keep it
// until the messages have been handled.
std::unique_ptr<HeldKey> PressKeyIn(FlashStandin& control, const KeyRouteCase& press);

// Expects the route the key's down message took in `control`, naming the case on failure.
void ExpectKeyRoute(const FlashStandin& control, const KeyRouteCase& press);

}  // namespace testing_support
