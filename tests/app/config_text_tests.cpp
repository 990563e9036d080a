// The configuration text read into the settings: what stops the reading, and how a long
// text is cut to its field.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

#include "app/config_text.h"

namespace {

TEST(ConfigText, ReadingStopsAtTheKeyTheCountsOrTooManyEntries) {
    const struct {
        const char* what;
        std::string text;
        SettingsVerdict verdict;
        int32_t port;       // read after the key
        size_t pictures;    // read last
    } cases[] = {
        {"the least text", "[global]\nlinkCount=1\nport=81\n", kSettingsRead, 81, 0},
        {"a key of 15 bytes", "[global]\nlinkCount=1\naesKey=Kp7Vw2QmX9tLr4B\nport=81\n", kSettingsBadKeyLength, 0, 0},
        {"a key of 40 bytes, 31 kept", "[global]\nlinkCount=1\naesKey=" + std::string(40, 'k') + "\n",
         kSettingsBadKeyLength, 0, 0},
        {"no linkCount", "[global]\nport=81\n", kSettingsNoLinks, 81, 0},
        {"a negative linkCount", "[global]\nlinkCount=-3\nport=81\n", kSettingsNoLinks, 81, 0},
        {"the most pictures", "[global]\nlinkCount=1\npicCount=1000\n", kSettingsRead, 80, 1000},
        {"one picture too many", "[global]\nlinkCount=1\npicCount=1001\n", kSettingsTooMany, 80, 0},
        {"too many menus", "[global]\nlinkCount=1\nmenuCount=2000000000\npicCount=1\n", kSettingsTooMany, 80, 0},
    };
    for (const auto& c : cases) {
        ConfigText config;
        ASSERT_TRUE(config.ParseIniText(c.text.data(), c.text.size())) << c.what;
        EXPECT_EQ(config.ReadSettingsFields(), c.verdict) << c.what;
        EXPECT_EQ(config.settings().port, c.port) << c.what;
        EXPECT_EQ(config.gamePics().size(), c.pictures) << c.what;
    }
}

TEST(ConfigText, CopyUtf8FieldKeepsCharactersWhole) {
    char field[5];
    EXPECT_TRUE(CopyUtf8Field(field, sizeof field, "abcd"));
    EXPECT_STREQ(field, "abcd");
    EXPECT_FALSE(CopyUtf8Field(field, sizeof field, "abcde"));
    EXPECT_STREQ(field, "abcd");
    EXPECT_FALSE(CopyUtf8Field(field, sizeof field, "a界b"));  // 5 bytes
    EXPECT_STREQ(field, "a界");
    EXPECT_FALSE(CopyUtf8Field(field, sizeof field, "ab界"));
    EXPECT_STREQ(field, "ab");
}

}  // namespace
