// The packaged configuration text (config/cg.txt) and the settings read from it: the INI
// syntax, the defaults, long texts cut to their fields, and the checks of the settings.
// No Windows headers; the package and the failure messages are LauncherConfig's.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "SimpleIni.h"

struct LinkEntry {
    char url[256];
    int32_t x, y, width, height, type;
};

struct GamePicEntry {
    int32_t x, y, width, height, interval, count;
};

struct GameButtonEntry {
    int32_t x, y, type, image;
    uint32_t color;  // 0x00BBGGRR
    char title[32];
    char url[256];
    char tips[32];
};

struct MenuEntry {
    char title[32];
    int32_t type;
};

// Text fields hold UTF-8 and are NUL-terminated; the array size is the field's width.
struct LauncherSettings {
    int32_t logx, logy;
    int32_t titlex, titley, titleWidth, titleHeight;
    char title[128];
    char from[64];
    char initname[64];
    char firstUrl[128];
    uint8_t BoLihk;
    uint8_t BoRegedit;
    char notityTitle[64];
    char notifyCloseTitle[64];
    char clearFlashTitle[64];
    char clearFlashMsg[128];
    char versionUrl[128];
    char exeUrl[128];
    int32_t port;
    char server[64];
    char version[64];
    char closeMsg[64];
    char spid[20];
    char hashkey[32];
    char hashdicttxt[32];
    char hashdictzip[32];
    char aesKey[32];
    char swf[32];
    char suffix[48];
    uint32_t titleColor;  // 0x00BBGGRR
    int32_t minGameWidth, minGameHeight;
    uint8_t BoPlaySwf;
    int32_t connectPort;
    // The publisher's minisign public key (base64, as on the second line of its .pub
    // file); empty when updates are not signed.
    char updateKey[128];
    // Further hosts ("host" or "host:port", comma-separated) a game connection may take
    // its resources from, besides the content server and the game page's host.
    char resourceHosts[256];
    char logintexts[64];
    int32_t loginTextX, loginTextY;
};

// Copies at most `width` - 1 bytes of UTF-8 `text` into `field` and terminates it,
// never splitting a multi-byte character. Returns false when the text was cut.
bool CopyUtf8Field(char* field, size_t width, const char* text);

enum SettingsVerdict {
    kSettingsRead,
    kSettingsBadKeyLength,  // aesKey is not 16 bytes ("len error")
    kSettingsNoLinks,       // linkCount is not positive
    kSettingsTooMany,       // a count above kMaxEntries ("装载ini文件失败")
};

class ConfigText {
public:
    // Larger counts are taken as a broken configuration rather than building that many
    // entries.
    static const int32_t kMaxEntries = 1000;

    ConfigText();
    ~ConfigText();
    ConfigText(const ConfigText&) = delete;
    ConfigText& operator=(const ConfigText&) = delete;

    // Parses configuration text (UTF-8, optional byte-order mark); false on a parse error.
    bool ParseIniText(const char* text, size_t length);
    // Reads the settings from the parsed text in their order; what was read before a
    // refusal stays read.
    SettingsVerdict ReadSettingsFields();

    std::string GetString(const char* section, const char* key, const char* defaultValue) const;
    // The value read like atoi, or defaultValue when the key is absent.
    int32_t GetInt(const char* section, const char* key, int32_t defaultValue) const;

    const LauncherSettings& settings() const { return settings_; }
    const char* gameheader() const { return gameheader_; }
    const std::vector<LinkEntry>& links() const { return links_; }
    const std::vector<GamePicEntry>& gamePics() const { return gamePics_; }
    const std::vector<GameButtonEntry>& gameButtons() const { return gameButtons_; }
    const std::vector<MenuEntry>& menus() const { return menus_; }
    const std::vector<std::string>& tipMessages() const { return tipMessages_; }
    const std::vector<int32_t>& edgeImages() const { return edgeImages_; }

private:
    void GetText(const char* section, const char* key, const char* defaultValue, char* field,
                 size_t width) const;

    CSimpleIniA ini_;
    char gameheader_[64] = {};
    std::vector<LinkEntry> links_;
    std::vector<GamePicEntry> gamePics_;
    std::vector<GameButtonEntry> gameButtons_;
    LauncherSettings settings_ = {};
    std::vector<MenuEntry> menus_;
    std::vector<std::string> tipMessages_;
    std::vector<int32_t> edgeImages_;
};
