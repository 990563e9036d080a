// The configuration text. The input is config/cg.txt as the package holds it. Beyond
// surviving any input: the key check refuses exactly a key that is not 16 bytes; every
// text is its value, or the value cut on a character boundary to its field; the entries
// number what their counts say, never more than kMaxEntries; a byte-order mark in front
// changes nothing; and the settings written again as text read back the same.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "app/config_text.h"
#include "fuzz_check.h"

namespace {

// The [global] texts the round trip writes again.
struct TextField {
    const char* key;
    const char* defaultValue;
    size_t offset;
    size_t width;
    bool beforeKey;  // read before the key check
};

#define FIELD(key, defaultValue, member, beforeKey) \
    { key, defaultValue, offsetof(LauncherSettings, member), sizeof(LauncherSettings::member), beforeKey }
const TextField kTexts[] = {
    FIELD("title", "", title, true),
    FIELD("server", "", server, true),
    FIELD("version", "", version, true),
    FIELD("spid", "vexa_tol", spid, true),
    FIELD("hashkey", "hashkey.txt", hashkey, true),
    FIELD("swf", "GameFrame.dat", swf, true),
    FIELD("suffix", "cbp,swf,zip,txt,dat", suffix, true),
    FIELD("updateKey", "", updateKey, false),
    FIELD("resourceHosts", "", resourceHosts, false),
    FIELD("closeMsg", "", closeMsg, true),
};
#undef FIELD

const char* Text(const LauncherSettings& settings, const TextField& field) {
    return reinterpret_cast<const char*>(&settings) + field.offset;
}

// field[width] holds value, or value cut to fit without splitting a character.
void CheckCut(const char* field, size_t width, const std::string& value) {
    const size_t length = strnlen(field, width);
    Check(length < width && value.compare(0, length, field) == 0);
    if (length == value.size()) return;
    Check(value.size() >= width);
    Check((static_cast<unsigned char>(value[length]) & 0xC0) != 0x80 || length == 0);
}

bool Load(ConfigText* config, const std::string& text, SettingsVerdict* verdict) {
    if (!config->ParseIniText(text.data(), text.size())) return false;
    *verdict = config->ReadSettingsFields();
    return true;
}

// A value SimpleIni gives back as written: nothing it trims at either end.
bool WritableAgain(const char* value) {
    const size_t length = strlen(value);
    if (length == 0) return true;
    if (strchr(" \t", value[0]) || strchr(" \t", value[length - 1])) return false;
    return !strpbrk(value, "\r\n");
}

void CheckWrittenAgain(const ConfigText& config) {
    const LauncherSettings& settings = config.settings();
    if (!WritableAgain(settings.aesKey)) return;
    std::string text = "[global]\nlinkCount=1\naesKey=" + std::string(settings.aesKey) + "\n";
    for (const TextField& field : kTexts) {
        if (!WritableAgain(Text(settings, field))) return;
        text += std::string(field.key) + "=" + Text(settings, field) + "\n";
    }
    char numbers[96];
    snprintf(numbers, sizeof numbers, "port=%d\nconnectPort=%d\ntitleColor=%d\n", settings.port, settings.connectPort,
             static_cast<int32_t>(settings.titleColor));
    text += numbers;

    ConfigText again;
    SettingsVerdict verdict = kSettingsNoLinks;
    Check(Load(&again, text, &verdict) && verdict == kSettingsRead);
    const LauncherSettings& back = again.settings();
    for (const TextField& field : kTexts) Check(strcmp(Text(back, field), Text(settings, field)) == 0);
    Check(strcmp(back.aesKey, settings.aesKey) == 0);
    Check(back.port == settings.port && back.connectPort == settings.connectPort);
    Check(back.titleColor == settings.titleColor);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ConfigText config;
    SettingsVerdict verdict = kSettingsNoLinks;
    if (!Load(&config, text, &verdict)) return 0;
    const LauncherSettings& settings = config.settings();

    const std::string key = config.GetString("global", "aesKey", "Kp7Vw2QmX9tLr4Bz");
    const size_t keyLength = key.size() < sizeof settings.aesKey - 1 ? key.size() : sizeof settings.aesKey - 1;
    Check((verdict == kSettingsBadKeyLength) == (keyLength != 16));
    Check(strlen(settings.aesKey) <= keyLength);
    for (const TextField& field : kTexts)
        if (verdict != kSettingsBadKeyLength || field.beforeKey)
            CheckCut(Text(settings, field), field.width, config.GetString("global", field.key, field.defaultValue));

    if (verdict == kSettingsRead) {
        const int32_t linkCount = config.GetInt("global", "linkCount", 0);
        Check(linkCount >= 1 && linkCount <= ConfigText::kMaxEntries);
        Check(config.links().size() == static_cast<size_t>(linkCount));
        const int32_t pictures = config.GetInt("global", "picCount", 0);
        Check(config.gamePics().size() == static_cast<size_t>(pictures > 0 ? pictures : 0));
        Check(config.gameButtons().size() <= ConfigText::kMaxEntries && config.menus().size() <= ConfigText::kMaxEntries);
        char section[32];
        for (size_t i = 0; i < config.links().size(); ++i) {
            snprintf(section, sizeof section, "link%d", static_cast<int>(i + 1));
            CheckCut(config.links()[i].url, sizeof config.links()[i].url, config.GetString(section, "url", "_blank"));
        }
        CheckWrittenAgain(config);
    }

    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) return 0;
    ConfigText marked;
    SettingsVerdict markedVerdict = kSettingsNoLinks;
    Check(Load(&marked, "\xEF\xBB\xBF" + text, &markedVerdict) && markedVerdict == verdict);
    for (const TextField& field : kTexts) Check(strcmp(Text(marked.settings(), field), Text(settings, field)) == 0);
    Check(marked.links().size() == config.links().size());
    return 0;
}
