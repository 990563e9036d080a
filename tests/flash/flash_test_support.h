// Shared by the Flash tests: OLE and the in-process Flash stand-in for one test, the
// fixture movie, and the stand-in behind a wrapper.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <vector>

#include "flash/shockwave_flash.h"
#include "standins/flash/flash_standin.h"
#include "support/test_support.h"

// OLE for the test's thread, and the stand-in registered as this process's Flash control.
class FlashStandinTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_EQ(S_OK, RegisterFlashStandin());
    }
    void TearDown() override {
        RevokeFlashStandin();
        OleUninitialize();
    }
};

// The tiny movie packed as config/launcher.swf into the splash fixture.
inline std::vector<uint8_t> FixtureMovie() {
    std::vector<uint8_t> movie = testing_support::ReadFileBytes(testing_support::FixturePath(L"flash/launcher.swf"));
    EXPECT_FALSE(movie.empty()) << "fixture movie missing";
    return movie;
}

// The stand-in behind a created wrapper; null without a control.
inline FlashStandin* StandinOf(const CShockwaveFlash* control) {
    return control ? FlashStandinFromUnknown(control->GetControlUnknown()) : nullptr;
}
