// The INI reader is header-only; its definitions are compiled here.
#define SI_IMPLEMENTATION
#include "app/config_text.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

bool CopyUtf8Field(char* field, size_t width, const char* text) {
    if (width == 0) return false;
    if (!text) text = "";
    size_t length = strlen(text);
    if (length < width) {
        memcpy(field, text, length + 1);
        return true;
    }
    size_t keep = width - 1;
    // Step back over continuation bytes so that the last character stays whole.
    while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
    memcpy(field, text, keep);
    field[keep] = '\0';
    return false;
}

ConfigText::ConfigText() : ini_(true, false, false) {}

ConfigText::~ConfigText() {}

bool ConfigText::ParseIniText(const char* text, size_t length) {
    ini_.Reset();
    ini_.SetUnicode(true);
    ini_.SetMultiKey(false);
    ini_.SetMultiLine(false);
    return ini_.LoadData(text, length) >= 0;
}

std::string ConfigText::GetString(const char* section, const char* key,
                                      const char* defaultValue) const {
    const char* value = ini_.GetValue(section, key, defaultValue);
    return value ? value : "";
}

int32_t ConfigText::GetInt(const char* section, const char* key, int32_t defaultValue) const {
    const char* value = ini_.GetValue(section, key, nullptr);
    return value ? atoi(value) : defaultValue;
}

void ConfigText::GetText(const char* section, const char* key, const char* defaultValue,
                             char* field, size_t width) const {
    // A value longer than its field is cut to the field's width less one byte, on a
    // character boundary.
    CopyUtf8Field(field, width, GetString(section, key, defaultValue).c_str());
}

namespace {

// Replaces `entries` with the sections prefix1 … prefix<count> (none when count is not
// positive), each read by read(section, entry) into an entry that starts zeroed.
template <typename Entry, typename ReadEntry>
void ReadEntries(const char* prefix, int32_t count, std::vector<Entry>& entries, ReadEntry read) {
    entries.clear();
    char section[32];
    for (int32_t n = 1; n <= count; ++n) {
        snprintf(section, sizeof section, "%s%d", prefix, n);
        Entry entry = {};
        read(section, entry);
        entries.push_back(entry);
    }
}

}  // namespace

SettingsVerdict ConfigText::ReadSettingsFields() {
    const char* g = "global";
    LauncherSettings& s = settings_;

    GetText(g, "gameheader", "", gameheader_, sizeof gameheader_);
    int32_t linkCount = GetInt(g, "linkCount", 0);
    // left, right, top, bottom, the corner and edge images, htmlHeadHeight, loginWidth,
    // loginHeight, loginCenterColor, loginPhpName, gameClientPhpName and force have no
    // effect anywhere, so they are not kept.
    s.minGameWidth = GetInt(g, "minGameWidth", 800);
    s.minGameHeight = GetInt(g, "minGameHeight", 600);

    edgeImages_.clear();
    for (int i = 1; i <= 8; ++i) {
        char key[16];
        snprintf(key, sizeof key, "edgeImage%d", i);
        edgeImages_.push_back(GetInt(g, key, 9));
    }

    s.titleColor = static_cast<uint32_t>(GetInt(g, "titleColor", 16777215));
    GetText(g, "title", "", s.title, sizeof s.title);
    GetText(g, "firstUrl", "", s.firstUrl, sizeof s.firstUrl);
    s.BoRegedit = GetInt(g, "BoRegedit", 0) > 0;
    s.BoLihk = GetInt(g, "BoLihk", 0) > 0;
    GetText(g, "notityTitle", "", s.notityTitle, sizeof s.notityTitle);
    GetText(g, "notifyCloseTitle", "", s.notifyCloseTitle, sizeof s.notifyCloseTitle);
    GetText(g, "initname", "", s.initname, sizeof s.initname);
    GetText(g, "suffix", "cbp,swf,zip,txt,dat", s.suffix, sizeof s.suffix);
    GetText(g, "from", "", s.from, sizeof s.from);
    GetText(g, "clearFlashTitle", "", s.clearFlashTitle, sizeof s.clearFlashTitle);
    GetText(g, "clearFlashMsg", "", s.clearFlashMsg, sizeof s.clearFlashMsg);
    GetText(g, "closeMsg", "", s.closeMsg, sizeof s.closeMsg);
    GetText(g, "versionUrl", "", s.versionUrl, sizeof s.versionUrl);
    GetText(g, "exeUrl", "", s.exeUrl, sizeof s.exeUrl);
    GetText(g, "server", "", s.server, sizeof s.server);
    GetText(g, "version", "", s.version, sizeof s.version);
    GetText(g, "spid", "vexa_tol", s.spid, sizeof s.spid);
    GetText(g, "hashkey", "hashkey.txt", s.hashkey, sizeof s.hashkey);
    GetText(g, "hashdicttxt", "hashdict.txt", s.hashdicttxt, sizeof s.hashdicttxt);
    GetText(g, "hashdictzip", "hashdict.zip", s.hashdictzip, sizeof s.hashdictzip);
    s.BoPlaySwf = GetInt(g, "BoPlaySwf", 0) > 0;
    GetText(g, "swf", "GameFrame.dat", s.swf, sizeof s.swf);

    // The key is counted in bytes: at most 31 are kept, exactly 16 are required.
    std::string key = GetString(g, "aesKey", "Kp7Vw2QmX9tLr4Bz");
    size_t keyLength = key.size() < sizeof s.aesKey - 1 ? key.size() : sizeof s.aesKey - 1;
    memcpy(s.aesKey, key.data(), keyLength);
    s.aesKey[keyLength] = '\0';
    if (keyLength != 16) return kSettingsBadKeyLength;

    s.port = GetInt(g, "port", 80);
    int32_t menuCount = GetInt(g, "menuCount", 0);
    GetText(g, "logintexts", "", s.logintexts, sizeof s.logintexts);
    s.loginTextX = GetInt(g, "loginTextX", 0);
    s.loginTextY = GetInt(g, "loginTextY", 0);
    s.logx = GetInt(g, "logx", 0);
    s.logy = GetInt(g, "logy", 0);
    s.titlex = GetInt(g, "titlex", 0);
    s.titley = GetInt(g, "titley", 0);
    s.titleWidth = GetInt(g, "titleWidth", 0);
    s.titleHeight = GetInt(g, "titleHeight", 0);
    s.connectPort = GetInt(g, "connectPort", 0);
    GetText(g, "updateKey", "", s.updateKey, sizeof s.updateKey);
    GetText(g, "resourceHosts", "", s.resourceHosts, sizeof s.resourceHosts);

    tipMessages_.clear();
    for (int i = 1; i <= 5; ++i) {
        char tipKey[16];
        snprintf(tipKey, sizeof tipKey, "tipmsg%d", i);
        tipMessages_.push_back(GetString(g, tipKey, ""));
    }

    if (linkCount <= 0) return kSettingsNoLinks;
    int32_t picCount = GetInt(g, "picCount", 0);
    int32_t gameButtonCount = GetInt(g, "gameButtonCount", 0);
    if (linkCount > kMaxEntries || menuCount > kMaxEntries || picCount > kMaxEntries ||
        gameButtonCount > kMaxEntries)
        return kSettingsTooMany;

    ReadEntries("link", linkCount, links_, [this](const char* section, LinkEntry& link) {
        GetText(section, "url", "_blank", link.url, sizeof link.url);
        link.x = GetInt(section, "x", 0);
        link.y = GetInt(section, "y", 0);
        link.width = GetInt(section, "width", 0);
        link.height = GetInt(section, "height", 0);
        link.type = GetInt(section, "type", 0);
    });
    ReadEntries("menu", menuCount, menus_, [this](const char* section, MenuEntry& menu) {
        GetText(section, "title", "", menu.title, sizeof menu.title);
        menu.type = GetInt(section, "type", 0);
    });
    ReadEntries("gamePic", picCount, gamePics_, [this](const char* section, GamePicEntry& pic) {
        pic.x = GetInt(section, "x", 0);
        pic.y = GetInt(section, "y", 0);
        pic.width = GetInt(section, "width", 0);
        pic.height = GetInt(section, "height", 0);
        pic.interval = GetInt(section, "interval", 0);
        pic.count = GetInt(section, "count", 0);
    });
    ReadEntries("gamebutton", gameButtonCount, gameButtons_, [this](const char* section, GameButtonEntry& button) {
        button.x = GetInt(section, "x", 0);
        button.y = GetInt(section, "y", 0);
        button.type = GetInt(section, "type", 0);
        button.image = GetInt(section, "image", 0);
        GetText(section, "title", "", button.title, sizeof button.title);
        GetText(section, "url", "", button.url, sizeof button.url);
        GetText(section, "tips", "", button.tips, sizeof button.tips);
        button.color = static_cast<uint32_t>(GetInt(section, "color", 16777215));
    });
    return kSettingsRead;
}
