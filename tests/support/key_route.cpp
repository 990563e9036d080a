#include "support/key_route.h"

#include <gtest/gtest.h>

namespace testing_support {

std::unique_ptr<HeldKey> PressKeyIn(FlashStandin& control, const KeyRouteCase& press) {
    control.SetTextFieldFocused(press.inTextField);
    control.ClearKeys();
    std::unique_ptr<HeldKey> held;
    if (press.withControl) held = std::make_unique<HeldKey>(VK_CONTROL);
    PostMessageW(control.window(), WM_KEYDOWN, press.key, 1);
    PostMessageW(control.window(), WM_KEYUP, press.key, 0xC0000001);
    return held;
}

void ExpectKeyRoute(const FlashStandin& control, const KeyRouteCase& press) {
    EXPECT_EQ(press.route, control.KeyDownRoute(press.key))
        << "key " << press.key << (press.withControl ? " with Ctrl" : "")
        << (press.inTextField ? " in a text field" : "");
}

}  // namespace testing_support
