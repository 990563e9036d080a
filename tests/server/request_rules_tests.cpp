// The local server's text rules: directories, names and addresses a connection may ask for.
#include <gtest/gtest.h>

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "server/request_rules.h"

namespace {

// Letter case ignored for ASCII only: enough for these tables (the server compares with
// the system's rule).
bool SameIgnoringAsciiCase(const char* a, size_t aLength, const char* b, size_t bLength) {
    if (aLength != bLength) return false;
    for (size_t i = 0; i < aLength; ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

TEST(DirectoryRules, AbsoluteLocalDirectoriesAreNormalisedAndAllElseRefused) {
    struct Case {
        const char* text;
        DirectoryVerdict verdict;
        const char* normalised;
    } cases[] = {
        {"C:\\Cache\\Run", kDirectoryAccepted, "C:\\Cache\\Run\\"},
        {"c:/cache/run/", kDirectoryAccepted, "c:\\cache\\run\\"},
        {"C:\\Cache\\\\Run\\.\\sub\\..\\", kDirectoryAccepted, "C:\\Cache\\Run\\"},
        {"C:/Cache\\..a\\b..c\\", kDirectoryAccepted, "C:\\Cache\\..a\\b..c\\"},
        {"C:\\", kDirectoryAccepted, "C:\\"},
        {"C:\\..", kDirectoryAboveRoot, ""},
        {"C:\\a\\..\\..\\Windows", kDirectoryAboveRoot, ""},
        {"", kDirectoryNotAbsolute, ""},
        {"Cache\\Run", kDirectoryNotAbsolute, ""},
        {"..\\Run", kDirectoryNotAbsolute, ""},
        {"C:Cache", kDirectoryNotAbsolute, ""},
        {"C:", kDirectoryNotAbsolute, ""},
        {"\\Cache", kDirectoryNotAbsolute, ""},
        {"\\??\\C:\\Cache", kDirectoryNotAbsolute, ""},
        {"1:\\Cache", kDirectoryNotAbsolute, ""},
        {"\\\\server\\share\\Cache", kDirectoryNotLocal, ""},
        {"//server/share", kDirectoryNotLocal, ""},
        {"\\\\?\\C:\\Cache", kDirectoryNotLocal, ""},
        {"\\\\.\\C:\\Cache", kDirectoryNotLocal, ""},
        {"/\\?/C:/Cache", kDirectoryNotLocal, ""},
        {"C:\\Cache\\Run:stream", kDirectoryBadCharacter, ""},
        {"C:\\Cache\\a*b", kDirectoryBadCharacter, ""},
        {"C:\\Cache\\a\"b", kDirectoryBadCharacter, ""},
        {"C:\\Cache\\a\x01" "b", kDirectoryBadCharacter, ""},
        {"C:\\Cache\\Run.", kDirectoryBadComponent, ""},
        {"C:\\Cache\\Run \\x", kDirectoryBadComponent, ""},
        {"C:\\Cache\\...\\", kDirectoryBadComponent, ""},
        {"C:\\Cache\\.. \\x", kDirectoryBadComponent, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        char out[64] = "left over";
        EXPECT_EQ(NormaliseDirectory(c.text, out, sizeof out), c.verdict);
        EXPECT_STREQ(out, c.normalised);
    }
}

TEST(DirectoryRules, AResultThatDoesNotFitIsRefusedNotCut) {
    const std::string fits = "C:\\" + std::string(11, 'a');  // "C:\aaaaaaaaaaa\" and its terminator: 16
    char out[16];
    EXPECT_EQ(NormaliseDirectory(fits.c_str(), out, sizeof out), kDirectoryAccepted);
    EXPECT_EQ(std::string(out), fits + "\\");
    EXPECT_EQ(NormaliseDirectory((fits + "a").c_str(), out, sizeof out), kDirectoryTooLong);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(NormaliseDirectory((fits + "\\b").c_str(), out, sizeof out), kDirectoryTooLong);
}

TEST(DirectoryRules, WithinComparesWholeComponents) {
    const char base[] = "C:\\Cache\\Run\\";
    struct Case {
        const char* path;
        bool within;
        const char* below;
    } cases[] = {
        {"C:\\Cache\\Run\\", true, ""},
        {"c:\\cache\\RUN\\", true, ""},
        {"C:\\Cache\\Run\\Sub\\Deeper\\", true, "Sub\\Deeper\\"},
        {"C:\\Cache\\", false, ""},
        {"C:\\", false, ""},
        {"C:\\Cache\\Runner\\", false, ""},
        {"C:\\Cache\\Ru\\", false, ""},
        {"D:\\Cache\\Run\\", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        size_t below = 99;
        ASSERT_EQ(IsWithinDirectory(base, c.path, SameIgnoringAsciiCase, &below), c.within);
        if (c.within) {
            EXPECT_STREQ(c.path + below, c.below);
        }
    }
    EXPECT_FALSE(IsWithinDirectory("", "C:\\Cache\\", SameIgnoringAsciiCase, nullptr));  // no cache directory yet
}

TEST(NameRules, DosDeviceNames) {
    struct Case {
        const char* name;
        bool device;
    } cases[] = {
        {"CON", true},         {"con", true},       {"Con.txt", true},   {"aux.tar.gz", true},
        {"NUL  ", true},       {"nul...", true},    {"PRN .dat", true},  {"COM1", true},
        {"lpt9.log", true},    {"COM0", true},      {"LPT0.x", true},    {"COM\xC2\xB9", true},
        {"lpt\xC2\xB3.x", true}, {"CONIN$", true},  {"conout$.txt", true},
        {"CONSOLE", false},    {"COM10", false},    {"COM", false},      {"LPT.txt", false},
        {"xcon", false},       {"con_", false},     {"COMA", false},     {"COM\xE2\x81\xB4", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsDosDeviceName(c.name, strlen(c.name)), c.device) << c.name;
}

TEST(NameRules, OnlyPlainNamesInsideTheCache) {
    struct Case {
        const char* name;
        bool safe;
    } cases[] = {
        {"res/a.swf", true},
        {"a", true},
        {"res/..a/b..c/x.png", true},
        {"res~/a~b.png", true},
        {"r\xC3\xA9sum\xC3\xA9/\xE5\x9B\xBE.png", true},
        {"", false},
        {"./a.swf", false},
        {"res/./a.swf", false},
        {"../a.swf", false},
        {"res/../../a.swf", false},
        {"res/..", false},
        {"res/.. /a", false},
        {"res/... /a", false},
        {"a.png.", false},
        {"a.png ", false},
        {"res//a.png", false},
        {"res/", false},
        {"/etc/a", false},
        {"\\a", false},
        {"res\\a.swf", false},
        {"C:/a.swf", false},
        {"c:a.swf", false},
        {"a.swf:stream", false},
        {"a\x01.png", false},
        {"a\x1F.png", false},
        {"a\x7F.png", false},
        {"CON", false},
        {"res/aux.png", false},
        {"NUL/a.png", false},
        {"com1 .dat", false},
        {"LAUNCH~1.BAT", false},
        {"res/GAMEFR~12.DAT", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsCacheSafeName(c.name), c.safe) << c.name;
}

TEST(AddressRules, OnlyPlainHttpAddressesGiveAHost) {
    struct Case {
        const char* text;
        const char* host;  // null: refused
        uint32_t port;
        uint32_t defaultPort;
    } cases[] = {
        {"http://cdn.test/res/", "cdn.test", 80, 80},
        {"HTTPS://CDN.test:8443", "CDN.test", 8443, 443},
        {"https://cdn.test", "cdn.test", 443, 443},
        {"http://127.0.0.1:8080/a/b?x=1&y=%41", "127.0.0.1", 8080, 80},
        {"http://a_b-c.test:65535/", "a_b-c.test", 65535, 80},
        {"ftp://cdn.test/", nullptr, 0, 0},
        {"file:///C:/x", nullptr, 0, 0},
        {"http:/cdn.test/", nullptr, 0, 0},
        {"//cdn.test/", nullptr, 0, 0},
        {"cdn.test/res/", nullptr, 0, 0},
        {"http://user@cdn.test/", nullptr, 0, 0},
        {"http://cdn.test@evil.test/", nullptr, 0, 0},
        {"http://cdn.test/@evil.test/", nullptr, 0, 0},
        {"http://cdn.test\\@evil.test/", nullptr, 0, 0},
        {"http://evil.test\\cdn.test/", nullptr, 0, 0},
        {"http://cdn.test#@evil.test/", nullptr, 0, 0},
        {"http://cdn.test?@evil.test/", nullptr, 0, 0},
        {"http:///res/", nullptr, 0, 0},
        {"http://", nullptr, 0, 0},
        {"http://:80/", nullptr, 0, 0},
        {"http://cdn.test:/", nullptr, 0, 0},
        {"http://cdn.test:0/", nullptr, 0, 0},
        {"http://cdn.test:65536/", nullptr, 0, 0},
        {"http://cdn.test:000080/", nullptr, 0, 0},
        {"http://cdn.test:80x/", nullptr, 0, 0},
        {"http://cdn.test:80:81/", nullptr, 0, 0},
        {"http://[::1]:80/", nullptr, 0, 0},
        {"http://cdn%2etest/", nullptr, 0, 0},
        {"http://cdn.test /", nullptr, 0, 0},
        {"http://cdn.test/a b", nullptr, 0, 0},
        {"http://cdn.test/\x01", nullptr, 0, 0},
        {"", nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        HostAddress address = {};
        uint32_t defaultPort = 0;
        const bool parsed = ParseResourceAddress(c.text, &address, &defaultPort);
        ASSERT_EQ(parsed, c.host != nullptr);
        if (!parsed) continue;
        EXPECT_STREQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
        EXPECT_EQ(defaultPort, c.defaultPort);
    }
    HostAddress address;
    uint32_t defaultPort;
    EXPECT_FALSE(ParseResourceAddress(nullptr, &address, &defaultPort));
    const std::string longest = "http://" + std::string(253, 'h') + "/";
    EXPECT_TRUE(ParseResourceAddress(longest.c_str(), &address, &defaultPort));
    const std::string tooLong = "http://" + std::string(254, 'h') + "/";
    EXPECT_FALSE(ParseResourceAddress(tooLong.c_str(), &address, &defaultPort));
}

TEST(AddressRules, HostListEntriesAndWhatTheyAllow) {
    HostAddress entries[4];
    size_t refused = 0;
    const char list[] = " cdn.test , img.test:8080,,bad host,x:0,other.test:99999,user@x.test, last.test";
    ASSERT_EQ(ParseHostList(list, entries, 4, &refused), 3u);
    EXPECT_EQ(refused, 4u);
    EXPECT_STREQ(entries[0].host, "cdn.test");
    EXPECT_EQ(entries[0].port, 0u);
    EXPECT_STREQ(entries[1].host, "img.test");
    EXPECT_EQ(entries[1].port, 8080u);
    EXPECT_STREQ(entries[2].host, "last.test");
    EXPECT_EQ(ParseHostList("a.test,b.test,c.test", entries, 2, &refused), 2u);
    EXPECT_EQ(refused, 1u);  // no room
    EXPECT_EQ(ParseHostList("", entries, 4, &refused), 0u);
    EXPECT_EQ(refused, 0u);

    struct Case {
        const char* entry;
        const char* address;
        bool allowed;
    } cases[] = {
        {"cdn.test", "http://CDN.TEST/res/", true},
        {"cdn.test", "https://cdn.test/", true},
        {"cdn.test", "http://cdn.test:443/", false},
        {"cdn.test", "http://cdn.test:8080/", false},
        {"cdn.test:8080", "http://cdn.test:8080/", true},
        {"cdn.test:8080", "https://cdn.test:8080/", true},
        {"cdn.test:8080", "http://cdn.test/", false},
        {"cdn.test", "http://cdn.test.evil.test/", false},
        {"cdn.test", "http://cdn.tes/", false},
        {"cdn.test", "http://xcdn.test/", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.entry) + " " + c.address);
        HostAddress entry;
        HostAddress address;
        uint32_t defaultPort = 0;
        ASSERT_TRUE(ParseHostEntry(c.entry, strlen(c.entry), &entry));
        ASSERT_TRUE(ParseResourceAddress(c.address, &address, &defaultPort));
        EXPECT_EQ(IsAllowedHost(entry, address, defaultPort), c.allowed);
    }
}

}  // namespace
