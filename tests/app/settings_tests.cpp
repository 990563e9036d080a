// Reading the configuration text into the settings record, and the small shared helpers.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "app/launcher_config.h"
#include "framework/paths.h"
#include "framework/text.h"
#include "message_recorder.h"
#include "support/test_support.h"

using testing_support::TempDir;

namespace {

const char kMinimal[] = "[global]\nlinkCount=1\n";

bool Load(LauncherConfig& config, const std::string& text) {
    RecordMessagesOf(config);
    if (!config.ParseIniText(text.data(), text.size())) return false;
    return config.ReadSettings();
}

TEST(Settings, ByteOrderMarkMakesNoDifference) {
    std::string text = "[global]\nlinkCount=1\ntitle=游戏\nspid=abc\n";
    LauncherConfig plain, marked;
    ASSERT_TRUE(Load(plain, text));
    ASSERT_TRUE(Load(marked, "\xEF\xBB\xBF" + text));
    EXPECT_STREQ(plain.settings().title, "游戏");
    EXPECT_STREQ(marked.settings().title, "游戏");
    EXPECT_STREQ(marked.settings().spid, "abc");
}

TEST(Settings, DefaultsWhenKeysAreAbsent) {
    LauncherConfig config;
    ASSERT_TRUE(Load(config, kMinimal));
    const LauncherSettings& s = config.settings();
    EXPECT_EQ(s.minGameWidth, 800);
    EXPECT_EQ(s.minGameHeight, 600);
    EXPECT_EQ(s.titleColor, 16777215u);
    EXPECT_EQ(s.port, 80);
    EXPECT_STREQ(s.suffix, "cbp,swf,zip,txt,dat");
    EXPECT_STREQ(s.spid, "vexa_tol");
    EXPECT_STREQ(s.hashkey, "hashkey.txt");
    EXPECT_STREQ(s.hashdicttxt, "hashdict.txt");
    EXPECT_STREQ(s.hashdictzip, "hashdict.zip");
    EXPECT_STREQ(s.swf, "GameFrame.dat");
    EXPECT_STREQ(s.aesKey, "Kp7Vw2QmX9tLr4Bz");
    EXPECT_EQ(s.connectPort, 0);
    EXPECT_STREQ(s.updateKey, "");
    EXPECT_STREQ(s.resourceHosts, "");
    EXPECT_EQ(s.BoPlaySwf, 0);
    EXPECT_EQ(config.edgeImages(), std::vector<int32_t>(8, 9));
    EXPECT_EQ(config.tipMessages(), std::vector<std::string>(5, ""));
    ASSERT_EQ(config.links().size(), 1u);
    EXPECT_STREQ(config.links()[0].url, "_blank");
    EXPECT_TRUE(config.gamePics().empty());
    EXPECT_TRUE(config.gameButtons().empty());
    EXPECT_TRUE(config.menus().empty());
    EXPECT_TRUE(RecordedMessages().empty());
}

// How a key is written, and the value the record must hold.
struct IntCase {
    const char* lines;
    int32_t LauncherSettings::*field;
    int32_t expected;
};

TEST(Settings, IntegerValuesAreReadLikeAtoi) {
    const IntCase cases[] = {
        {"titlex= 30\n", &LauncherSettings::titlex, 30},
        {"port=\n", &LauncherSettings::port, 0},
        {"", &LauncherSettings::port, 80},
        {"port=8080abc\n", &LauncherSettings::port, 8080},
        {"loginTextX=-12\n", &LauncherSettings::loginTextX, -12},
        {"logx=  7  \n", &LauncherSettings::logx, 7},
        {"connectPort=x9\n", &LauncherSettings::connectPort, 0},
        {"minGameWidth=0x400\n", &LauncherSettings::minGameWidth, 0},
    };
    for (const IntCase& c : cases) {
        LauncherConfig config;
        ASSERT_TRUE(Load(config, std::string(kMinimal) + c.lines)) << c.lines;
        EXPECT_EQ(config.settings().*c.field, c.expected) << c.lines;
    }
    LauncherConfig config;
    ASSERT_TRUE(Load(config, std::string(kMinimal) + "titleColor=0xFF\n"));
    EXPECT_EQ(config.settings().titleColor, 0u);
    ASSERT_TRUE(Load(config, std::string(kMinimal) + "gameButtonCount =10\n[gamebutton10]\ntype=1    \n"));
    ASSERT_EQ(config.gameButtons().size(), 10u);
    EXPECT_EQ(config.gameButtons()[9].type, 1);
}

TEST(Settings, SyntaxRules) {
    LauncherConfig config;
    ASSERT_TRUE(Load(config,
                     "# comment\r\n"
                     "[ GLOBAL ]\r\n"
                     "LinkCount=2\r\n"
                     "title=first\n"
                     "title=second\r"
                     "no equals sign here\n"
                     "=orphan value\n"
                     "  ; indented comment\n"
                     "closeMsg=Quit? ; really\n"
                     "[Link1]\n"
                     "URL = http://host/a \n"
                     "[global]\n"
                     "server=merged.example\n"
                     "updateKey = RWQf6LRCGA9i53mlYecO4IzT51TGPpvWucNSCh1CBM0QTaLn73Y7GFO3\n"
                     "resourceHosts=cdn2.example:8080, res.example\n"));
    const LauncherSettings& s = config.settings();
    EXPECT_STREQ(s.updateKey, "RWQf6LRCGA9i53mlYecO4IzT51TGPpvWucNSCh1CBM0QTaLn73Y7GFO3");
    EXPECT_STREQ(s.resourceHosts, "cdn2.example:8080, res.example");
    EXPECT_STREQ(s.title, "second");
    EXPECT_STREQ(s.closeMsg, "Quit? ; really");
    EXPECT_STREQ(s.server, "merged.example");
    ASSERT_EQ(config.links().size(), 2u);
    EXPECT_STREQ(config.links()[0].url, "http://host/a");
    // link2 has no section: an entry of defaults.
    EXPECT_STREQ(config.links()[1].url, "_blank");
    EXPECT_EQ(config.links()[1].x, 0);
    EXPECT_EQ(config.links()[1].type, 0);
}

TEST(Settings, FlagsAreTrueAboveZero) {
    LauncherConfig config;
    ASSERT_TRUE(Load(config, std::string(kMinimal) + "BoLihk=2\nBoRegedit=-1\nBoPlaySwf=1\n"));
    EXPECT_EQ(config.settings().BoLihk, 1);
    EXPECT_EQ(config.settings().BoRegedit, 0);
    EXPECT_EQ(config.settings().BoPlaySwf, 1);
}

TEST(Settings, LongTextsAreCutOnCharacterBoundaries) {
    std::string title40(40, 'x');
    // 20 three-byte characters: 60 bytes into a 64-byte field fit, 25 (75 bytes) do not.
    std::string chinese25;
    for (int i = 0; i < 25; ++i) chinese25 += "界";
    LauncherConfig config;
    ASSERT_TRUE(Load(config, std::string(kMinimal) + "closeMsg=" + chinese25 +
                                 "\nspid=" + std::string(30, 's') +
                                 "\ngameButtonCount=1\n[gamebutton1]\ntitle=" + title40 + "\n"));
    EXPECT_EQ(std::string(config.gameButtons()[0].title), std::string(31, 'x'));
    // 63 bytes would split the 22nd character; 21 whole characters (63 bytes) remain.
    EXPECT_EQ(std::string(config.settings().closeMsg), chinese25.substr(0, 63));
    EXPECT_EQ(strlen(config.settings().spid), 19u);
}

TEST(Settings, AesKeyMustBeSixteenBytes) {
    struct Case {
        std::string key;
        bool accepted;
    } cases[] = {
        {"Kp7Vw2QmX9tLr4B", false},
        {"Kp7Vw2QmX9tLr4Bzz", false},
        {"0123456789abcdef", true},
        {"密钥密钥密aa", false},  // 17 bytes
        {"密钥密钥密a", true},    // 5 × 3 + 1 = 16 bytes
        {"", false},
    };
    for (const Case& c : cases) {
        LauncherConfig config;
        bool ok = Load(config, std::string(kMinimal) + "aesKey=" + c.key + "\nport=81\n");
        EXPECT_EQ(ok, c.accepted) << c.key;
        if (c.accepted) {
            EXPECT_TRUE(RecordedMessages().empty());
            EXPECT_EQ(config.settings().port, 81);
        } else {
            ASSERT_EQ(RecordedMessages().size(), 1u) << c.key;
            EXPECT_EQ(RecordedMessages()[0].text, L"len error");
            EXPECT_EQ(RecordedMessages()[0].caption, L"load fail");
            // Nothing after the key is read.
            EXPECT_EQ(config.settings().port, 0);
        }
    }
}

TEST(Settings, LinkCountMustBePositive) {
    for (const char* count : {"0", "-3", "", "abc"}) {
        LauncherConfig config;
        EXPECT_FALSE(Load(config, std::string("[global]\nlinkCount=") + count + "\ntipmsg1=read\n"));
        EXPECT_TRUE(RecordedMessages().empty()) << count;
        // The keys before the check were read.
        EXPECT_EQ(config.tipMessages()[0], "read");
    }
}

TEST(Settings, HugeCountsAreRefused) {
    for (const char* key : {"linkCount", "picCount", "gameButtonCount", "menuCount"}) {
        LauncherConfig config;
        std::string text = std::string("[global]\nlinkCount=1\n") + key + "=2000000000\n";
        EXPECT_FALSE(Load(config, text)) << key;
        ASSERT_EQ(RecordedMessages().size(), 1u);
        EXPECT_EQ(RecordedMessages()[0].text, L"装载ini文件失败");
    }
}

TEST(Settings, NumberedSectionsInOrder) {
    LauncherConfig config;
    ASSERT_TRUE(Load(config,
                     "[global]\nlinkCount=1\npicCount=2\nmenuCount=2\ngameButtonCount=1\n"
                     "[gamePic2]\ncount=6\ninterval=100\n[gamePic1]\nx=1\n"
                     "[menu1]\ntitle=A\ntype=3\n[menu2]\ntitle=B\n"
                     "[gamebutton1]\nx=-28\nurl=http://u\ntips=t\n"));
    ASSERT_EQ(config.gamePics().size(), 2u);
    EXPECT_EQ(config.gamePics()[0].x, 1);
    EXPECT_EQ(config.gamePics()[1].count, 6);
    EXPECT_EQ(config.gamePics()[1].interval, 100);
    ASSERT_EQ(config.menus().size(), 2u);
    EXPECT_STREQ(config.menus()[0].title, "A");
    EXPECT_EQ(config.menus()[0].type, 3);
    EXPECT_STREQ(config.menus()[1].title, "B");
    const GameButtonEntry& button = config.gameButtons()[0];
    EXPECT_EQ(button.x, -28);
    EXPECT_STREQ(button.url, "http://u");
    EXPECT_STREQ(button.tips, "t");
    EXPECT_EQ(button.color, 16777215u);
}

TEST(Helpers, ToWideReusesOneBuffer) {
    const wchar_t* first = ToWide("abc", true);
    std::wstring copy = first;
    const wchar_t* second = ToWide("de", true);
    EXPECT_EQ(first, second);
    EXPECT_EQ(copy, L"abc");
    EXPECT_STREQ(second, L"de");
    EXPECT_STREQ(ToWide("启动", true), L"启动");
    // A longer text grows the buffer; the result stays whole.
    std::string longText(5000, 'q');
    EXPECT_EQ(std::wstring(ToWide(longText.c_str(), false)), std::wstring(5000, L'q'));
}

TEST(Helpers, DirectoryOfPath) {
    wchar_t buffer[8];
    EXPECT_EQ(DirectoryOfPath(L"C:\\dir/file.txt", buffer, 8), 6);
    EXPECT_STREQ(buffer, L"C:\\dir");
    EXPECT_EQ(DirectoryOfPath(L"\\file", buffer, 8), 0);
    EXPECT_EQ(DirectoryOfPath(L"file", buffer, 8), 0);
    // Cut to the capacity, the full length returned.
    EXPECT_EQ(DirectoryOfPath(L"C:\\a\\very\\long\\x", buffer, 8), 14);
    EXPECT_STREQ(buffer, L"C:\\a\\ve");
}

TEST(Helpers, CreateDirectoryPathMakesEveryLevel) {
    TempDir temp;
    std::wstring root = temp.path();
    std::wstring mixed = root + L"a/b\\\\c/";
    ASSERT_TRUE(CreateDirectoryPath(mixed.c_str()));
    for (const wchar_t* level : {L"a", L"a\\b", L"a\\b\\c"}) {
        DWORD attributes = GetFileAttributesW((root + level).c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << level;
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    EXPECT_TRUE(CreateDirectoryPath(mixed.c_str()));  // all present: still fine

    ASSERT_TRUE(testing_support::WriteFileBytes(root + L"file", "x", 1));
    EXPECT_FALSE(CreateDirectoryPath((root + L"file\\sub").c_str()));
    EXPECT_FALSE(CreateDirectoryPath((root + std::wstring(5000, L'n')).c_str()));
}

// Wine keeps the shares of \\server\share\ in its prefix, under dosdevices\unc.
TEST(Helpers, CreateDirectoryPathKeepsTheRootOfANetworkPath) {
    wchar_t prefix[MAX_PATH] = L"";
    DWORD length = GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) GTEST_SKIP() << "no Wine prefix to hold a share";
    std::wstring share = std::wstring(L"Z:") + prefix + L"\\dosdevices\\unc\\launcher-test\\share\\";
    for (wchar_t& c : share)
        if (c == L'/') c = L'\\';
    ASSERT_TRUE(CreateDirectoryPath(share.c_str()));
    TempDir current;
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(current.path().c_str());

    EXPECT_TRUE(CreateDirectoryPath(L"\\\\launcher-test\\share\\cache/tarn\\"));
    EXPECT_TRUE(CreateDirectoryPath(L"//launcher-test/share/cache2"));

    SetCurrentDirectoryW(previous);
    for (const wchar_t* made : {L"cache\\tarn", L"cache2"}) {
        DWORD attributes = GetFileAttributesW((share + made).c_str());
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes) << Utf8FromWide(made);
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((current.path() + L"launcher-test").c_str()));
    for (const wchar_t* made : {L"cache\\tarn", L"cache", L"cache2"}) RemoveDirectoryW((share + made).c_str());
}

}  // namespace
