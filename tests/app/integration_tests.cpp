// Browser emulation values and desktop shortcuts.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <vector>

#include "app/system_integration.h"
#include "browser_key.h"
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
        EXPECT_EQ(BrowserEmulationValue(c.version), c.value) << Utf8FromWide(c.version);
}

TEST_F(BrowserKey, TheInstalledVersionDecidesTheEmulationValueOfThisExecutable) {
    struct Case {
        const wchar_t* version;
        DWORD value;
    } cases[] = {{L"8.0.6001.18702", 8000}, {L"9.11.19041.0", 9000}, {L"10.0.9200", 10000}, {L"11.0.22000", 10001}};
    for (const Case& c : cases) {
        SetVersion(c.version);
        ApplyBrowserEmulation(L"EmulationTest.exe");
        EXPECT_EQ(c.value, FeatureValue(L"EmulationTest.exe")) << Utf8FromWide(c.version);
    }
    // Version 7 writes nothing: the value stays what it was.
    SetVersion(L"7.0.5730");
    ApplyBrowserEmulation(L"EmulationSeven.exe");
    EXPECT_EQ(0u, FeatureValue(L"EmulationSeven.exe"));
}

TEST_F(BrowserKey, AVersionTooLongForItsBufferCountsAsEmpty) {
    // Were the size of a refused read taken as the length read, the check for its terminator
    // would look megabytes past the buffer on a small stack.
    SetVersion(L"11." + std::wstring(4u << 20, L'0'));
    HANDLE thread = CreateThread(
        nullptr, 64 * 1024,
        [](void*) -> DWORD {
            ApplyBrowserEmulation(L"EmulationLong.exe");
            return 0;
        },
        nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(nullptr, thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(0u, FeatureValue(L"EmulationLong.exe"));
}

TEST_F(BrowserKey, AMissingKeyIsReportedAndNothingIsWritten) {
    HKEY parent = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", 0, KEY_ALL_ACCESS, &parent));
    // The key moves aside for the test and comes back afterwards.
    ASSERT_EQ(ERROR_SUCCESS, RegRenameKey(parent, L"Internet Explorer", L"Internet Explorer (moved)"));
    std::vector<testing_support::CaughtBox> boxes;
    {
        testing_support::MessageBoxCatcher catcher;
        ApplyBrowserEmulation(L"EmulationMissing.exe");
        boxes = catcher.boxes();
    }
    RegRenameKey(parent, L"Internet Explorer (moved)", L"Internet Explorer");
    RegCloseKey(parent);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(WideFromUtf8("无法判断IE版本信息"), boxes[0].text);
    EXPECT_EQ(L"Error", boxes[0].caption);
    EXPECT_EQ(0u, FeatureValue(L"EmulationMissing.exe"));
}

class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(Shortcuts, FoundByTargetWhateverTheirName) {
    TempDir desktop, programs;
    std::wstring exe = programs.path() + L"Launcher.exe";
    std::wstring other = programs.path() + L"Other.exe";
    ASSERT_TRUE(testing_support::WriteFileBytes(exe, "MZ", 2));
    ASSERT_TRUE(testing_support::WriteFileBytes(other, "MZ", 2));

    EXPECT_FALSE(ShortcutExists(AnsiFromWide(exe).c_str(), AnsiFromWide(desktop.path()).c_str()));
    EXPECT_FALSE(ShortcutExists(nullptr, AnsiFromWide(desktop.path()).c_str()));

    std::wstring toOther = desktop.path() + L"Other copy.lnk";
    EXPECT_EQ(CreateShortcut(other.c_str(), toOther.c_str(), nullptr), 0);
    wchar_t target[MAX_PATH] = L"";
    ASSERT_TRUE(ShortcutTarget(AnsiFromWide(toOther).c_str(), target, MAX_PATH));
    EXPECT_EQ(lstrcmpiW(target, other.c_str()), 0);
    EXPECT_FALSE(ShortcutExists(AnsiFromWide(exe).c_str(), AnsiFromWide(desktop.path()).c_str()));

    std::wstring renamed = desktop.path() + L"My game.lnk";
    CreateShortcut(exe.c_str(), renamed.c_str(), nullptr);
    EXPECT_TRUE(ShortcutExists(AnsiFromWide(exe).c_str(), AnsiFromWide(desktop.path()).c_str()));
}

}  // namespace
