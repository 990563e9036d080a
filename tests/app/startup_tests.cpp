// Start-up of the real Launcher.exe: the message of each failure, the leftovers it
// removes, the cache directory and the choice of the first window.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <map>
#include <string>
#include <vector>

#include "app/launcher_app.h"
#include "app/system_integration.h"
#include "browser_key.h"
#include "support/test_support.h"

using testing_support::CaughtBox;
using testing_support::CopyFileTo;
using testing_support::FixturePath;
using testing_support::ReadFileBytes;
using testing_support::RunAndCatch;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

using Report = std::map<std::string, std::string>;

// Runs a copy of the fixture executable `fixture` placed at `exePath`; the start-up
// report, when one was written, lands in `report`.
RunResult RunLauncher(const std::wstring& fixture, const std::wstring& exePath,
                      const std::wstring& arguments, Report* report) {
    EXPECT_TRUE(CopyFileTo(FixturePath(fixture), exePath));
    std::wstring reportPath = exePath + L".report";
    DeleteFileW(reportPath.c_str());
    SetEnvironmentVariableW(L"LAUNCHER_STARTUP_REPORT", reportPath.c_str());
    std::wstring directory = exePath.substr(0, exePath.find_last_of(L'\\'));
    RunResult result = RunAndCatch(exePath, arguments, directory);
    SetEnvironmentVariableW(L"LAUNCHER_STARTUP_REPORT", nullptr);
    if (report) {
        report->clear();
        std::vector<uint8_t> bytes = ReadFileBytes(reportPath);
        std::string text(bytes.begin(), bytes.end());
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            size_t eq = line.find('=');
            if (eq != std::string::npos) (*report)[line.substr(0, eq)] = line.substr(eq + 1);
            start = end + 1;
        }
    }
    DeleteFileW(reportPath.c_str());
    return result;
}

TEST(Startup, EachFailureShowsItsMessageAndEnds) {
    struct Case {
        const wchar_t* fixture;
        const wchar_t* text;     // null: no message at all
        const wchar_t* caption;
    } cases[] = {
        {L"app\\plain.exe", L"没有附加配置文件,请打包配置文件", L"启动失败"},
        {L"app\\garbage.exe", L"OpenZip失败", L"启动失败"},
        {L"app\\no_ini.exe", L"读取ini文件失败", L"启动失败"},
        {L"app\\aes15.exe", L"len error", L"load fail"},
        {L"app\\huge_count.exe", L"装载ini文件失败", L"启动失败"},
        {L"app\\no_skin.exe", L"读取图片失败", L"启动失败"},
        {L"app\\linkcount0.exe", nullptr, nullptr},
    };
    TempDir temp;
    for (const Case& c : cases) {
        Report report;
        RunResult run = RunLauncher(c.fixture, temp.path() + L"Launcher.exe", L"", &report);
        ASSERT_TRUE(run.exited) << Utf8FromWide(c.fixture);
        EXPECT_TRUE(report.empty()) << "start-up went on after the failure";
        if (!c.text) {
            EXPECT_TRUE(run.boxes.empty());
            continue;
        }
        ASSERT_EQ(run.boxes.size(), 1u) << Utf8FromWide(c.fixture);
        EXPECT_EQ(run.boxes[0].text, c.text);
        EXPECT_EQ(run.boxes[0].caption, c.caption);
    }
}

TEST(Startup, GoodPackageRemovesLeftoversAndPreparesTheCache) {
    TempDir temp;
    std::wstring dir = temp.path();
    std::wstring cache = dir + L"tarn/chn1\\";
    ASSERT_TRUE(CreateDirectoryW((dir + L"tarn").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir + L"tarn\\chn1").c_str(), nullptr));
    for (const std::wstring& leftover :
         {dir + L"Launcher_back_up.exe", dir + L"Launcher_update.bat", cache + L"Launcher_update.bat"})
        ASSERT_TRUE(WriteFileBytes(leftover, "old", 3));

    Report report;
    RunResult run = RunLauncher(L"app\\good.exe", dir + L"Launcher.exe", L"", &report);
    ASSERT_TRUE(run.exited);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(report["first_window"], "login");
    EXPECT_EQ(report["started_with_argument"], "0");
    EXPECT_EQ(report["title"], "测试游戏");
    EXPECT_EQ(WideFromUtf8(report["cache_directory"]), cache);
    EXPECT_FALSE(testing_support::ReadFileBytes(dir + L"Launcher_back_up.exe").size());
    for (const std::wstring& leftover :
         {dir + L"Launcher_back_up.exe", dir + L"Launcher_update.bat", cache + L"Launcher_update.bat"})
        EXPECT_EQ(GetFileAttributesW(leftover.c_str()), INVALID_FILE_ATTRIBUTES);

    run = RunLauncher(L"app\\good.exe", dir + L"Launcher.exe", L"/autorun", &report);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(report["first_window"], "login");
    EXPECT_EQ(report["started_with_argument"], "1");
}

TEST(Startup, LeftoversGoBeforeThePackageIsOpened) {
    TempDir temp;
    std::wstring dir = temp.path();
    for (const wchar_t* leftover : {L"Launcher_back_up.exe", L"Launcher_update.bat"})
        ASSERT_TRUE(WriteFileBytes(dir + leftover, "old", 3));
    RunResult run = RunLauncher(L"app\\garbage.exe", dir + L"Launcher.exe", L"", nullptr);
    ASSERT_TRUE(run.exited);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(L"OpenZip失败", run.boxes[0].text);
    for (const wchar_t* leftover : {L"Launcher_back_up.exe", L"Launcher_update.bat"})
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir + leftover).c_str())) << Utf8FromWide(leftover);
}

std::wstring DesktopFolder() {
    wchar_t desktop[MAX_PATH] = L"";
    SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, TRUE);
    return desktop;
}


// A package with BoRegedit and BoLihk set and no initname: start-up registers the
// executable's file name for browser emulation and puts Launcher.lnk on the desktop.
TEST_F(BrowserKey, StartUpRegistersTheExecutableAndPutsItsShortcutOnTheDesktop) {
    SetVersion(L"9.11.19041.0");
    const std::wstring desktop = DesktopFolder();
    const std::wstring shortcut = desktop + L"\\Launcher.lnk";
    DeleteFileW(shortcut.c_str());
    TempDir temp;
    const std::wstring exe = temp.path() + L"Launcher.exe";

    Report report;
    RunResult run = RunLauncher(L"app\\integrated.exe", exe, L"", &report);
    ASSERT_TRUE(run.exited);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(report["first_window"], "login");
    EXPECT_EQ(9000u, FeatureValue(L"Launcher.exe"));
    wchar_t target[MAX_PATH] = L"";
    CoInitialize(nullptr);
    EXPECT_TRUE(ShortcutTarget(AnsiFromWide(shortcut).c_str(), target, MAX_PATH));
    CoUninitialize();
    EXPECT_EQ(0, lstrcmpiW(exe.c_str(), target)) << Utf8FromWide(target);
    DeleteFileW(shortcut.c_str());
}

TEST(Startup, AnExecutableOnTheDesktopGetsNoShortcut) {
    const std::wstring desktop = DesktopFolder();
    const std::wstring exe = desktop + L"\\DeskLauncher.exe";
    const std::wstring shortcut = desktop + L"\\DeskLauncher.lnk";
    DeleteFileW(shortcut.c_str());
    Report report;
    RunResult run = RunLauncher(L"app\\integrated.exe", exe, L"", &report);
    DeleteFileW(exe.c_str());
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(report["first_window"], "login");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(shortcut.c_str()));
    DeleteFileW(shortcut.c_str());
}

TEST(Startup, FirstUrlStartsTheGameDirectly) {
    TempDir temp;
    Report report;
    RunResult run = RunLauncher(L"app\\direct.exe", temp.path() + L"Launcher.exe", L"/autorun", &report);
    ASSERT_TRUE(run.exited);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(report["first_window"], "direct");
    EXPECT_EQ(report["game_address"], "http://127.0.0.1:8081/game.php?sid=1");
    EXPECT_EQ(report["started_with_argument"], "0");

    run = RunLauncher(L"app\\marker.exe", temp.path() + L"Launcher.exe",
                      L"-flag http://host/from-command-line", &report);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(report["first_window"], "direct");
    EXPECT_EQ(report["game_address"], "http://host/from-command-line");

    run = RunLauncher(L"app\\marker.exe", temp.path() + L"Launcher.exe", L"", &report);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(report["first_window"], "splash");
    EXPECT_EQ(report["started_with_argument"], "0");
}

TEST(Startup, OnTheDesktopTheCacheGoesToTheDriveRoot) {
    wchar_t desktop[MAX_PATH] = L"";
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, TRUE));
    std::wstring exe = std::wstring(desktop) + L"\\LauncherOnDesktop.exe";
    Report report;
    RunResult run = RunLauncher(L"app\\good.exe", exe, L"", &report);
    DeleteFileW(exe.c_str());
    ASSERT_TRUE(run.exited);
    std::wstring expected = std::wstring(desktop).substr(0, 3) + L"tarn/chn1\\";
    EXPECT_EQ(WideFromUtf8(report["cache_directory"]), expected);
    EXPECT_NE(GetFileAttributesW(expected.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(FirstWindow, ChoiceByFirstUrlAndCommandLine) {
    struct Case {
        const char* firstUrl;
        bool splash;
        const wchar_t* commandLine;
        FirstWindow window;
        const char* address;
        bool startedWithArgument;
    } cases[] = {
        {"http://game/x", true, L"L.exe /autorun", FirstWindow::DirectStart, "http://game/x", false},
        {"ab", false, L"L.exe", FirstWindow::DirectStart, "ab", false},
        {"1", false, L"L.exe http://a/b", FirstWindow::DirectStart, "http://a/b", false},
        {"1", false, L"L.exe /x -y \"http://a/c d\" e", FirstWindow::DirectStart, "http://a/c d", false},
        {"1", true, L"L.exe /autorun", FirstWindow::FlashSplash, "", false},
        {"1", false, L"L.exe", FirstWindow::Login, "", false},
        {"", false, L"L.exe /autorun", FirstWindow::Login, "", true},
        {"", true, L"L.exe anything", FirstWindow::FlashSplash, "", true},
        {"", false, L"L.exe", FirstWindow::Login, "", false},
        {"", false, L"\"C:\\dir with space\\L.exe\"", FirstWindow::Login, "", false},
    };
    for (const Case& c : cases) {
        FirstWindowChoice choice = ChooseFirstWindow(c.firstUrl, c.splash, c.commandLine);
        std::string label = Utf8FromWide(c.commandLine) + " / " + c.firstUrl;
        EXPECT_EQ(choice.window, c.window) << label;
        EXPECT_EQ(choice.gameAddress, c.address) << label;
        EXPECT_EQ(choice.startedWithArgument, c.startedWithArgument) << label;
    }
}

TEST(CacheDirectory, BesideTheExecutableOrAtTheDriveRoot) {
    EXPECT_EQ(CacheDirectoryFor(L"C:\\Games\\L", L"C:\\Users\\u\\Desktop", L"vexa_tol"),
              L"C:\\Games\\L\\vexa_tol\\");
    EXPECT_EQ(CacheDirectoryFor(L"C:\\Users\\U\\DESKTOP", L"C:\\Users\\u\\Desktop", L"vexa_tol"),
              L"C:\\vexa_tol\\");
    EXPECT_EQ(CacheDirectoryFor(L"D:\\x", L"C:\\d", L"tarn/chn1"), L"D:\\x\\tarn/chn1\\");
}

TEST(CdnAddress, EndsWithExactlyOneSlash) {
    struct Case {
        const char* in;
        bool accepted;
        const char* stored;
    } cases[] = {
        {"http://cdn/res", true, "http://cdn/res/"},
        {"http://cdn/res/", true, "http://cdn/res/"},
        {"http://cdn/res\\", true, "http://cdn/res/"},
        {"ab", true, "ab/"},
        {"a", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        std::string stored;
        EXPECT_EQ(NormaliseCdnAddress(c.in, &stored), c.accepted) << c.in;
        EXPECT_EQ(stored, c.stored) << c.in;
    }
    std::string longAddress(400, 'a');
    std::string stored;
    ASSERT_TRUE(NormaliseCdnAddress(longAddress.c_str(), &stored));
    EXPECT_EQ(stored, std::string(259, 'a') + "/");
}

}  // namespace
