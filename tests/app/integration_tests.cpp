// Browser emulation values and desktop shortcuts.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>

#include "app/system_integration.h"
#include "support/test_support.h"

using testing_support::TempDir;

namespace {

TEST(BrowserEmulation, ValueFollowsTheMajorVersion) {
    struct Case {
        const wchar_t* version;
        DWORD value;
    } cases[] = {
        {L"8.0.6001.18702", 8000}, {L"9.11.19041.0", 9000}, {L"9.", 9000},
        {L"10.0.1", 10000},        {L"11.0.22000", 10001},  {L"7.0.5730", 0},
        {L"", 0},                  {L"abc", 0},             {L"99", 10001},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BrowserEmulationValue(c.version), c.value) << testing_support::ToUtf8(c.version);
}

class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    std::string Narrow(const std::wstring& text) {
        char narrow[MAX_PATH * 2] = "";
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
        return narrow;
    }
};

TEST_F(Shortcuts, FoundByTargetWhateverTheirName) {
    TempDir desktop, programs;
    std::wstring exe = programs.path() + L"Launcher.exe";
    std::wstring other = programs.path() + L"Other.exe";
    ASSERT_TRUE(testing_support::WriteFileBytes(exe, "MZ", 2));
    ASSERT_TRUE(testing_support::WriteFileBytes(other, "MZ", 2));

    EXPECT_FALSE(ShortcutExists(Narrow(exe).c_str(), Narrow(desktop.path()).c_str()));
    EXPECT_FALSE(ShortcutExists(nullptr, Narrow(desktop.path()).c_str()));

    std::wstring toOther = desktop.path() + L"Other copy.lnk";
    EXPECT_EQ(CreateShortcut(other.c_str(), toOther.c_str(), nullptr), 0);
    wchar_t target[MAX_PATH] = L"";
    ASSERT_TRUE(ShortcutTarget(Narrow(toOther).c_str(), target, MAX_PATH));
    EXPECT_EQ(lstrcmpiW(target, other.c_str()), 0);
    EXPECT_FALSE(ShortcutExists(Narrow(exe).c_str(), Narrow(desktop.path()).c_str()));

    std::wstring renamed = desktop.path() + L"My game.lnk";
    CreateShortcut(exe.c_str(), renamed.c_str(), nullptr);
    EXPECT_TRUE(ShortcutExists(Narrow(exe).c_str(), Narrow(desktop.path()).c_str()));
}

}  // namespace
