// Client services against real parts: address pages served by the HTTP test server, the
// Run value and config.ini in the Wine prefix's registry and files, a marker program
// started as the new launcher, and WinINet's URL cache.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>
#include <wininet.h>

#include <string>
#include <vector>

#include "bridge_test_support.h"
#include "game/client_services.h"
#include "game/script_bridge.h"
#include "support/test_support.h"

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring PageAddress(const char* path) {
    return L"http://127.0.0.1:" + std::to_wstring(testing_support::HttpServerPort()) + L"/" +
           WideFromUtf8(path);
}

// Puts a page into the HTTP test server's folder and returns its address.
std::wstring ServePage(const char* name, const std::string& content) {
    const std::wstring file = testing_support::HttpServerRoot() + WideFromUtf8(name);
    EXPECT_TRUE(testing_support::WriteFileBytes(file, content.data(), content.size()));
    return PageAddress(name);
}

TEST(ExternalIp, AddressIsTheFirstBracketedTextOfALine) {
    ASSERT_NE(0, testing_support::HttpServerPort());
    struct Case {
        std::string page;
        int32_t result;
        std::string address;
    } cases[] = {
        {"<html>\n<body>\nYour address: [203.0.113.7] here\n</body>\n", kIpFound, "203.0.113.7"},
        {"<html>\r\n<body>\r\n[198.51.100.2]\r\n", kIpFound, "198.51.100.2"},
        {"no address\nhere either\n", kIpNotOnPage, ""},
        {"", kIpNotOnPage, ""},
        // The first line with both brackets decides, and it must hold an address.
        {"a ] b [ c\n", kIpNotOnPage, ""},
        {"[1.1.1.1\nonly ]\n]2.2.2.2[\n[3.3.3.3]\n", kIpNotOnPage, ""},
        {"x [first] y [192.0.2.1]\n", kIpNotOnPage, ""},
        {"x [192.0.2.1] y [192.0.2.2]\n[192.0.2.3]\n", kIpFound, "192.0.2.1"},
        // A spoofed page must not reach into the movie's XML.
        {"[1</string><string>x]\n", kIpNotOnPage, ""},
        {"no newline at the end [192.0.2.9]", kIpFound, "192.0.2.9"},
        {std::string(20000, 'z') + "\n[192.0.2.10]\n", kIpFound, "192.0.2.10"},
    };
    CClientServices services;
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "ip" + std::to_string(n++) + ".txt";
        services.SetIpPageAddress(ServePage(name.c_str(), c.page).c_str());
        std::string address = "unchanged";
        EXPECT_EQ(c.result, services.GetExternalIp(&address)) << c.page;
        if (c.result == kIpFound) {
            EXPECT_EQ(c.address, address) << c.page;
        }
    }
}

TEST(ExternalIp, OnlyDottedIpv4AddressesPass) {
    struct Case {
        const char* text;
        bool address;
    } cases[] = {
        {"0.0.0.0", true},       {"255.255.255.255", true}, {"203.0.113.7", true}, {"01.002.3.4", true},
        {"256.1.1.1", false},    {"1.1.1.999", false},      {"1.1.1", false},      {"1.1.1.1.1", false},
        {"1..1.1", false},       {".1.1.1.1", false},       {"1.1.1.1.", false},   {"", false},
        {"1.1.1.1 ", false},     {" 1.1.1.1", false},       {"1.1.1.0001", false}, {"1.1.1.a", false},
        {"::1", false},          {"1.1.1.1<", false},       {"-1.1.1.1", false},   {"4294967297.1.1.1", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.address, IsDottedIpv4(c.text, strlen(c.text))) << c.text;
    }
    // The length bounds the text: nothing behind it is read.
    EXPECT_TRUE(IsDottedIpv4("10.0.0.1999", 8));
}

// A page that arrives a byte at a time must not hold the game window beyond the deadline:
// it is cut off there, even though every byte comes well within a single read's time-out.
TEST(ExternalIp, TricklingPageEndsAtTheDeadline) {
    ASSERT_NE(0, testing_support::HttpServerPort());
    ServePage("trickle.txt", std::string(40, '.') + "\n[203.0.113.7]\n");  // 55 bytes, 0.3 s each
    CClientServices services;
    services.SetIpPageAddress(PageAddress("__trickle/300/trickle.txt").c_str());
    const ULONGLONG start = GetTickCount64();
    std::string address;
    EXPECT_EQ(kIpPageUnreachable, services.GetExternalIp(&address));
    printf("trickling page given up after %.1f s\n", (GetTickCount64() - start) / 1000.0);
}

TEST(ExternalIp, UnreachableOrFailedPagesGiveLoopback) {
    ASSERT_NE(0, testing_support::HttpServerPort());
    const std::wstring pages[] = {
        L"http://127.0.0.1:1/ip.txt",
        PageAddress("missing-page.txt"),
        PageAddress("__status/500"),
    };
    for (const std::wstring& page : pages) {
        CClientServices services;
        services.SetIpPageAddress(page.c_str());
        std::string address;
        EXPECT_EQ(kIpPageUnreachable, services.GetExternalIp(&address)) << Utf8FromWide(page);
        EXPECT_EQ("127.0.0.1", services.CollectClientInfo().ipAddress);
    }
}

TEST(ExternalIp, ThePageAddressComesFromTheEnvironment) {
    SetEnvironmentVariableW(L"LAUNCHER_IP_PAGE", L"http://127.0.0.1:1/from-env");
    EXPECT_EQ(L"http://127.0.0.1:1/from-env", CClientServices().ipPageAddress());
    SetEnvironmentVariableW(L"LAUNCHER_IP_PAGE", nullptr);
    EXPECT_EQ(std::wstring(kDefaultIpPageAddress), CClientServices().ipPageAddress());
}

// Command 7 end to end: the bridge asks the page and answers the movie with event 5.
TEST(ClientInfoEvent, CarriesMacAddressPageAddressAndFrom) {
    ASSERT_NE(0, testing_support::HttpServerPort());
    game_testing::StandinRegistration registration;
    game_testing::StandinHost host;
    game_testing::RecordingWindow window;
    window.control = host.control();
    CClientServices services;
    LauncherSettings settings = {};
    CScriptBridge bridge(window, services, settings);
    const std::string longFrom(50, 'f');
    struct Case {
        std::string page;
        std::string from;
        std::wstring tail;  // the items after the MAC address
    } cases[] = {
        {"a\nb\nip [203.0.113.7]\n", "site7", L"<string>203.0.113.7</string><string>site7</string>"},
        // Text that is not an address never reaches the movie.
        {"a\nb\n]x[\n", "site7", L"<string>127.0.0.1</string><string>site7</string>"},
        {"[1</string><string>x]\n", "site7", L"<string>127.0.0.1</string><string>site7</string>"},
        // 17 + 1 + 11 + 1 = 30 bytes before `from`: 33 of its 50 bytes fit into 63.
        {"[203.0.113.7]\n", longFrom, L"<string>203.0.113.7</string><string>" + std::wstring(33, L'f') + L"</string>"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "event" + std::to_string(n++) + ".txt";
        services.SetIpPageAddress(ServePage(name.c_str(), c.page).c_str());
        strcpy(settings.from, c.from.c_str());
        host.TakeRequests();
        bridge.OnFlashCall(game_testing::ClientRequest({L"7"}).c_str());
        const std::vector<std::wstring> requests = host.TakeRequests();
        ASSERT_EQ(1u, requests.size());
        const std::wstring head = L"<invoke name=\"ClientCallJs\"><arguments><string>5</string><string>";
        const std::wstring mac = WideFromUtf8(services.CollectClientInfo().macAddress);
        EXPECT_EQ(head + mac + L"</string>" + c.tail + L"</arguments></invoke>", requests[0]);
    }
}

TEST(ClientInfo, MacAddressIsSixLowercaseHexBytes) {
    const uint8_t bytes[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0xFE};
    EXPECT_EQ("00-1a-2b-3c-4d-fe", FormatMacAddress(bytes));
    const uint8_t zeros[6] = {};
    EXPECT_EQ("00-00-00-00-00-00", FormatMacAddress(zeros));

    CClientServices services;
    services.SetIpPageAddress(L"http://127.0.0.1:1/");
    const std::string mac = services.CollectClientInfo().macAddress;
    ASSERT_EQ(17u, mac.size());
    for (size_t i = 0; i < mac.size(); ++i) {
        if (i % 3 == 2) {
            EXPECT_EQ('-', mac[i]) << mac;
        } else {
            EXPECT_TRUE(isxdigit(static_cast<unsigned char>(mac[i])) && !isupper(static_cast<unsigned char>(mac[i])))
                << mac;
        }
    }
}

// ---------------------------------------------------------------------------------
// Start with Windows

std::wstring RunValue(const wchar_t* name) {
    wchar_t data[1024] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) {
        return L"<none>";
    }
    return data;
}

int AutoBootOf(const std::wstring& ini) {
    return static_cast<int>(GetPrivateProfileIntW(L"Setup", L"AutoBoot", -7, ini.c_str()));
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Desktop() {
    wchar_t desktop[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, TRUE);
    return desktop;
}

TEST(AutoStart, ToggleWritesRunValueAndConfigIniBesideTheExecutable) {
    testing_support::TempDir dir;
    const std::wstring exe = dir.path() + L"Bridge.Game.exe";
    const std::wstring ini = dir.path() + L"config.ini";
    CClientServices services;
    services.SetExecutablePath(exe.c_str());
    EXPECT_FALSE(services.ReadAutoStart());

    EXPECT_TRUE(services.ToggleAutoStart(false));
    EXPECT_EQ(L"\"" + exe + L"\" /autorun", RunValue(L"Bridge.Game"));
    EXPECT_EQ(1, AutoBootOf(ini));
    EXPECT_TRUE(services.ReadAutoStart());

    EXPECT_FALSE(services.ToggleAutoStart(true));
    EXPECT_EQ(L"<none>", RunValue(L"Bridge.Game"));
    EXPECT_EQ(0, AutoBootOf(ini));
    EXPECT_FALSE(services.ReadAutoStart());

    // The switch follows the flag it is given, not the registry: "on" again from a stale
    // "off" stores the value again.
    EXPECT_TRUE(services.ToggleAutoStart(false));
    EXPECT_TRUE(services.ToggleAutoStart(false));
    EXPECT_EQ(L"\"" + exe + L"\" /autorun", RunValue(L"Bridge.Game"));
    EXPECT_FALSE(services.ToggleAutoStart(true));
    EXPECT_EQ(L"<none>", RunValue(L"Bridge.Game"));
}

TEST(AutoStart, ReadFollowsTheExecutableNotTheCurrentDirectory) {
    testing_support::TempDir exeDir;
    testing_support::TempDir elsewhere;
    ASSERT_TRUE(WritePrivateProfileStringW(L"Setup", L"AutoBoot", L"1", (exeDir.path() + L"config.ini").c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"Setup", L"AutoBoot", L"0", (elsewhere.path() + L"config.ini").c_str()));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(elsewhere.path().c_str());

    CClientServices services;
    services.SetExecutablePath((exeDir.path() + L"L.exe").c_str());
    EXPECT_TRUE(services.ReadAutoStart());
    struct Case {
        const wchar_t* value;
        bool on;
    } cases[] = {{L"2", true}, {L"0", false}, {L"", false}, {L"yes", false}};
    for (const Case& c : cases) {
        WritePrivateProfileStringW(L"Setup", L"AutoBoot", c.value, (exeDir.path() + L"config.ini").c_str());
        EXPECT_EQ(c.on, services.ReadAutoStart()) << Utf8FromWide(c.value);
    }
    SetCurrentDirectoryW(previous);
}

TEST(AutoStart, ExecutableOnTheDesktopKeepsConfigIniInTheDriveRoot) {
    const std::wstring desktop = Desktop();
    ASSERT_GE(desktop.size(), 3u);
    const std::wstring root = desktop.substr(0, 3);
    EXPECT_EQ(L":\\", root.substr(1));
    const std::wstring ini = root + L"config.ini";
    DeleteFileW(ini.c_str());

    CClientServices services;
    services.SetExecutablePath((desktop + L"\\DeskGame.exe").c_str());
    EXPECT_TRUE(services.ToggleAutoStart(false));
    EXPECT_EQ(1, AutoBootOf(ini));
    EXPECT_FALSE(Exists(desktop + L"\\config.ini"));
    EXPECT_TRUE(services.ReadAutoStart());
    EXPECT_FALSE(services.ToggleAutoStart(true));
    EXPECT_EQ(0, AutoBootOf(ini));
    EXPECT_EQ(L"<none>", RunValue(L"DeskGame"));
    DeleteFileW(ini.c_str());
}

// The desktop test compares the directories as written: the desktop folder in upper case
// is another directory to it, and config.ini goes there, not to the drive root.
TEST(AutoStart, OnlyTheDesktopAsWrittenCountsAsTheDesktop) {
    const std::wstring desktop = Desktop();
    std::wstring upper = desktop;
    CharUpperW(&upper[0]);
    ASSERT_NE(desktop, upper);
    const std::wstring root = desktop.substr(0, 3);
    DeleteFileW((root + L"config.ini").c_str());

    CClientServices services;
    services.SetExecutablePath((upper + L"\\DeskGame.exe").c_str());
    EXPECT_TRUE(services.ToggleAutoStart(false));
    EXPECT_EQ(1, AutoBootOf(desktop + L"\\config.ini"));
    EXPECT_FALSE(Exists(root + L"config.ini"));
    EXPECT_FALSE(services.ToggleAutoStart(true));
    DeleteFileW((desktop + L"\\config.ini").c_str());
}

TEST(AutoStart, PathsTooLongForTheRunDataAreRefusedWhole) {
    testing_support::TempDir dir;
    // The Run data is the path in quotes and " /autorun"; with its terminator it must fit
    // 260 units. A path of 248 fits exactly, one more is refused.
    struct Case {
        size_t pathLength;
        bool accepted;
    } cases[] = {{248, true}, {249, false}, {259, false}};
    for (const Case& c : cases) {
        const std::wstring name = L"Long" + std::to_wstring(c.pathLength);
        const size_t folderLength = c.pathLength - 1 - name.size() - 4;
        const std::wstring folder = dir.path() + std::wstring(folderLength - dir.path().size(), L'd');
        const std::wstring exe = folder + L"\\" + name + L".exe";
        ASSERT_EQ(c.pathLength, exe.size());
        if (c.accepted) {
            ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        }

        CClientServices services;
        services.SetExecutablePath(exe.c_str());
        EXPECT_EQ(c.accepted, services.ToggleAutoStart(false)) << c.pathLength;
        EXPECT_EQ(c.accepted ? L"\"" + exe + L"\" /autorun" : L"<none>", RunValue(name.c_str()));
        EXPECT_EQ(c.accepted, Exists(folder + L"\\config.ini"));
        if (c.accepted) {
            EXPECT_FALSE(services.ToggleAutoStart(true));
            DeleteFileW((folder + L"\\config.ini").c_str());
            RemoveDirectoryW(folder.c_str());
        }
    }
}

// ---------------------------------------------------------------------------------
// Restart

TEST(StartNewInstance, StartsTheExecutableWithoutArgumentsEvenFromAPathWithBlanks) {
    testing_support::TempDir dir;
    const std::wstring folder = dir.path() + L"Game Folder";
    const std::wstring exe = game_testing::CopyRestartMarker(folder, L"My Launcher.exe");
    ASSERT_FALSE(exe.empty());
    CClientServices services;
    services.SetExecutablePath(exe.c_str());
    EXPECT_TRUE(services.StartNewInstance());
    const std::vector<std::string> lines = game_testing::WaitForMarkerLines(folder, 1);
    // One command-line entry: the new launcher does not take part of its own path for an
    // argument (which would make it start hidden, as from auto-start).
    EXPECT_EQ(std::vector<std::string>{"1 \"" + Utf8FromWide(exe) + "\""}, lines);

    services.SetExecutablePath((folder + L"\\missing.exe").c_str());
    EXPECT_FALSE(services.StartNewInstance());
}

// ---------------------------------------------------------------------------------
// Browser cache

bool AddCacheEntry(const std::wstring& url, const std::string& headers) {
    wchar_t file[MAX_PATH] = {};
    if (!CreateUrlCacheEntryW(url.c_str(), 0, L"txt", file, 0)) return false;
    if (!testing_support::WriteFileBytes(file, "cached", 6)) return false;
    const FILETIME never = {};
    return CommitUrlCacheEntryW(url.c_str(), file, never, never, NORMAL_CACHE_ENTRY,
                                headers.empty() ? nullptr : const_cast<wchar_t*>(
                                                                WideFromUtf8(headers).c_str()),
                                static_cast<DWORD>(headers.size()), nullptr, nullptr) != FALSE;
}

bool InCache(const std::wstring& url) {
    DWORD size = 0;
    if (GetUrlCacheEntryInfoW(url.c_str(), nullptr, &size)) return true;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

std::vector<std::wstring> FillCache() {
    std::vector<std::wstring> urls;
    for (int i = 0; i < 3; ++i) {
        urls.push_back(L"http://cdn.example/res/" + std::to_wstring(i) + L".swf");
        EXPECT_TRUE(AddCacheEntry(urls.back(), ""));
    }
    // A record far larger than the first one's buffer.
    urls.push_back(L"http://cdn.example/res/" + std::wstring(1500, L'l') + L".swf");
    EXPECT_TRUE(AddCacheEntry(urls.back(), "X-Long: " + std::string(6000, 'h') + "\r\n"));
    for (const std::wstring& url : urls) EXPECT_TRUE(InCache(url)) << Utf8FromWide(url);
    return urls;
}

TEST(BrowserCache, ClearDeletesEveryEntryAndAnEmptyCacheIsFine) {
    const std::vector<std::wstring> urls = FillCache();
    EXPECT_GE(CClientServices::ClearBrowserCache(), urls.size());
    for (const std::wstring& url : urls) EXPECT_FALSE(InCache(url)) << Utf8FromWide(url).substr(0, 40);
    EXPECT_EQ(0u, CClientServices::ClearBrowserCache());
}

TEST(BrowserCache, AskAndClearAsksWithTheConfiguredTextsAndOnlyOkClears) {
    LauncherSettings settings = {};
    strcpy(settings.clearFlashTitle, "\xE6\xB8\x85\xE7\x90\x86\xE5\xB7\xA5\xE5\x85\xB7");  // 清理工具
    strcpy(settings.clearFlashMsg, "Clear the cache?");
    CClientServices services;
    for (int answer : {IDCANCEL, IDOK}) {
        SCOPED_TRACE(answer);
        const std::vector<std::wstring> urls = FillCache();
        std::vector<testing_support::CaughtBox> boxes;
        testing_support::MessageBoxStyles styles;
        {
            testing_support::MessageBoxCatcher catcher(0, answer);
            services.AskAndClearBrowserCache(nullptr, settings);
            boxes = catcher.boxes();
        }
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(L"\x6E05\x7406\x5DE5\x5177", boxes[0].caption);
        EXPECT_EQ(L"Clear the cache?", boxes[0].text);
        // OK and Cancel, Cancel the default, system- and task-modal.
        EXPECT_EQ(std::vector<UINT>{0x3101u}, styles.styles());
        for (const std::wstring& url : urls) EXPECT_EQ(answer != IDOK, InCache(url));
    }
}

}  // namespace
