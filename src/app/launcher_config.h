// The configuration record: opens the package appended to the executable, parses its
// config/cg.txt and serves the package's images. Loaded once at start-up, read-only after.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "SimpleIni.h"
#include "zip/zip_reader.h"

class CImage;
namespace Gdiplus {
class Bitmap;
}

struct LinkEntry {
    char url[256];
    int32_t x, y, width, height, type;
};

struct GamePicEntry {
    int32_t x, y, width, height, interval, count;
};

struct GameButtonEntry {
    int32_t x, y, type, image;
    COLORREF color;
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
    COLORREF titleColor;
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

// Where the package lies inside an executable image: the end of the raw data of its
// last section. Returns false when the headers are not those of a PE image or lie
// outside the `size` bytes given.
bool FindPackageOffset(const uint8_t* image, uint64_t size, uint64_t* offset);

class LauncherConfig {
public:
    LauncherConfig();
    ~LauncherConfig();
    LauncherConfig(const LauncherConfig&) = delete;
    LauncherConfig& operator=(const LauncherConfig&) = delete;

    // Maps this executable and opens the package appended to it.
    bool OpenPackage();
    // The same for any executable file (start-up passes its own path).
    bool OpenPackageFile(const wchar_t* path);
    bool LoadIniText(const char* entryName);
    // Parses configuration text (UTF-8, optional byte-order mark); false on a parse error.
    bool ParseIniText(const char* text, size_t length);
    bool ReadSettings();

    std::string GetString(const char* section, const char* key, const char* defaultValue) const;
    int32_t GetInt(const char* section, const char* key, int32_t defaultValue) const;

    const LauncherSettings& settings() const { return settings_; }
    const char* gameheader() const { return gameheader_; }
    const std::vector<LinkEntry>& links() const { return links_; }
    const std::vector<GamePicEntry>& gamePics() const { return gamePics_; }
    const std::vector<GameButtonEntry>& gameButtons() const { return gameButtons_; }
    const std::vector<MenuEntry>& menus() const { return menus_; }
    const std::vector<std::string>& tipMessages() const { return tipMessages_; }
    const std::vector<int32_t>& edgeImages() const { return edgeImages_; }

    bool LoadPackageImage(const char* entryName, CImage& image);
    // The bitmap keeps its stream alive; the caller deletes the bitmap.
    bool LoadPackageBitmap(const char* entryName, Gdiplus::Bitmap** bitmap);
    // Whole entry into memory; false (without a message) when it is not in the package.
    bool ReadPackageEntry(const char* entryName, std::vector<uint8_t>& bytes);

    // Where failure messages go; MessageBoxW unless a test records them instead.
    using MessageBoxFunction = int(WINAPI*)(HWND, const wchar_t*, const wchar_t*, UINT);
    void SetMessageBox(MessageBoxFunction function) { messageBox_ = function; }

private:
    IStream* OpenPackageStream(const char* entryName);
    void ClosePackage();
    void ShowFailure(const wchar_t* text, const wchar_t* caption = L"启动失败") const;
    void GetText(const char* section, const char* key, const char* defaultValue, char* field,
                 size_t width) const;

    CSimpleIniA ini_;
    ZipHandle* package_ = nullptr;
    char gameheader_[64] = {};
    std::vector<LinkEntry> links_;
    std::vector<GamePicEntry> gamePics_;
    std::vector<GameButtonEntry> gameButtons_;
    LauncherSettings settings_ = {};
    std::vector<MenuEntry> menus_;
    std::vector<std::string> tipMessages_;
    std::vector<int32_t> edgeImages_;

    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
    const uint8_t* view_ = nullptr;
    MessageBoxFunction messageBox_ = MessageBoxW;
};
