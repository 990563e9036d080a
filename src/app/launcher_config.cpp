// The INI reader is header-only; its definitions are compiled here.
#define SI_IMPLEMENTATION
#include "app/launcher_config.h"

#include <ole2.h>
#include <gdiplus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/image.h"
#include "framework/text.h"

namespace {

uint32_t ReadU32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Larger counts are taken as a broken configuration rather than building that many entries.
constexpr int32_t kMaxEntries = 1000;
// Package entries are configuration text and skin images, read whole into memory.
constexpr int32_t kPackageEntryLimit = 64 << 20;

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

bool FindPackageOffset(const uint8_t* image, uint64_t size, uint64_t* offset) {
    if (!image || size < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
    uint64_t nt = ReadU32(image + 0x3C);
    if (nt + 24 > size || memcmp(image + nt, "PE\0\0", 4) != 0) return false;
    uint16_t sectionCount = ReadU16(image + nt + 6);
    uint16_t optionalHeaderSize = ReadU16(image + nt + 20);
    if (sectionCount == 0) return false;
    // For a PE32 image with the standard optional header the NT headers are 248 bytes;
    // the real size also keeps PE32+ images right.
    uint64_t last = nt + 24 + optionalHeaderSize + 40ull * (sectionCount - 1);
    if (last + 40 > size) return false;
    *offset = static_cast<uint64_t>(ReadU32(image + last + 20)) + ReadU32(image + last + 16);
    return true;
}

LauncherConfig::LauncherConfig() : ini_(true, false, false) {}

LauncherConfig::~LauncherConfig() {
    links_.clear();
    gamePics_.clear();
    gameButtons_.clear();
    menus_.clear();
    ClosePackage();
    FreeToWideBuffer();
}

void LauncherConfig::ShowFailure(const wchar_t* text, const wchar_t* caption) const {
    messageBox_(nullptr, text, caption, MB_OK);
}

void LauncherConfig::ClosePackage() {
    if (package_) ReleaseZip(package_);
    package_ = nullptr;
    if (view_) UnmapViewOfFile(view_);
    view_ = nullptr;
    if (mapping_) CloseHandle(mapping_);
    mapping_ = nullptr;
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}

bool LauncherConfig::OpenPackage() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    std::wstring widePath = ToWide(path, false);
    return OpenPackageFile(widePath.c_str());
}

bool LauncherConfig::OpenPackageFile(const wchar_t* path) {
    ClosePackage();
    file_ = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file_, nullptr);
    mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping_) {
        ShowFailure(L"CreateMapFile fail");
        ClosePackage();
        return false;
    }
    view_ = static_cast<const uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
    if (!view_) {
        ClosePackage();
        return false;
    }
    // An image whose headers cannot be read has no package we could find either.
    uint64_t offset = 0;
    if (size == INVALID_FILE_SIZE || !FindPackageOffset(view_, size, &offset) || offset >= size) {
        ShowFailure(L"没有附加配置文件,请打包配置文件");
        ClosePackage();
        return false;
    }
    package_ = OpenZip(view_ + offset, static_cast<uint32_t>(size - offset), ZipFromMemory);
    if (!package_) {
        ShowFailure(L"OpenZip失败");
        ClosePackage();
        return false;
    }
    return true;
}

bool LauncherConfig::ReadPackageEntry(const char* entryName, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (!package_) return false;
    std::wstring name = ToWide(entryName, true);
    int32_t index = -1;
    ZipItemInfo info;
    if (LocateZipItem(package_, name.c_str(), false, &index, &info) != ZR_OK) return false;
    if (info.uncompressedSize < 0 || info.uncompressedSize > kPackageEntryLimit) return false;
    bytes.resize(static_cast<size_t>(info.uncompressedSize));
    // An entry whose data do not check out (damaged package) counts as missing.
    if (!bytes.empty() &&
        ExtractZipItem(package_, index, bytes.data(), static_cast<uint32_t>(bytes.size()), ZipFromMemory) != ZR_OK) {
        bytes.clear();
        return false;
    }
    return true;
}

bool LauncherConfig::LoadIniText(const char* entryName) {
    std::vector<uint8_t> text;
    if (!ReadPackageEntry(entryName, text)) {
        ShowFailure(L"读取ini文件失败");
        return false;
    }
    if (!ParseIniText(reinterpret_cast<const char*>(text.data()), text.size())) {
        ShowFailure(L"装载ini文件失败");
        return false;
    }
    return true;
}

bool LauncherConfig::ParseIniText(const char* text, size_t length) {
    ini_.Reset();
    ini_.SetUnicode(true);
    ini_.SetMultiKey(false);
    ini_.SetMultiLine(false);
    return ini_.LoadData(text, length) >= 0;
}

std::string LauncherConfig::GetString(const char* section, const char* key,
                                      const char* defaultValue) const {
    const char* value = ini_.GetValue(section, key, defaultValue);
    return value ? value : "";
}

int32_t LauncherConfig::GetInt(const char* section, const char* key, int32_t defaultValue) const {
    const char* value = ini_.GetValue(section, key, nullptr);
    return value ? atoi(value) : defaultValue;
}

void LauncherConfig::GetText(const char* section, const char* key, const char* defaultValue,
                             char* field, size_t width) const {
    // A value longer than its field is cut to the field's width less one byte, on a
    // character boundary.
    CopyUtf8Field(field, width, GetString(section, key, defaultValue).c_str());
}

bool LauncherConfig::ReadSettings() {
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

    s.titleColor = static_cast<COLORREF>(GetInt(g, "titleColor", 16777215));
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
    if (keyLength != 16) {
        ShowFailure(L"len error", L"load fail");
        return false;
    }

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

    if (linkCount <= 0) return false;
    int32_t picCount = GetInt(g, "picCount", 0);
    int32_t gameButtonCount = GetInt(g, "gameButtonCount", 0);
    if (linkCount > kMaxEntries || menuCount > kMaxEntries || picCount > kMaxEntries ||
        gameButtonCount > kMaxEntries) {
        ShowFailure(L"装载ini文件失败");
        return false;
    }

    char section[32];
    links_.clear();
    for (int32_t n = 1; n <= linkCount; ++n) {
        snprintf(section, sizeof section, "link%d", n);
        LinkEntry link = {};
        GetText(section, "url", "_blank", link.url, sizeof link.url);
        link.x = GetInt(section, "x", 0);
        link.y = GetInt(section, "y", 0);
        link.width = GetInt(section, "width", 0);
        link.height = GetInt(section, "height", 0);
        link.type = GetInt(section, "type", 0);
        links_.push_back(link);
    }

    menus_.clear();
    for (int32_t n = 1; n <= menuCount; ++n) {
        snprintf(section, sizeof section, "menu%d", n);
        MenuEntry menu = {};
        GetText(section, "title", "", menu.title, sizeof menu.title);
        menu.type = GetInt(section, "type", 0);
        menus_.push_back(menu);
    }

    gamePics_.clear();
    for (int32_t n = 1; n <= picCount; ++n) {
        snprintf(section, sizeof section, "gamePic%d", n);
        GamePicEntry pic = {};
        pic.x = GetInt(section, "x", 0);
        pic.y = GetInt(section, "y", 0);
        pic.width = GetInt(section, "width", 0);
        pic.height = GetInt(section, "height", 0);
        pic.interval = GetInt(section, "interval", 0);
        pic.count = GetInt(section, "count", 0);
        gamePics_.push_back(pic);
    }

    gameButtons_.clear();
    for (int32_t n = 1; n <= gameButtonCount; ++n) {
        snprintf(section, sizeof section, "gamebutton%d", n);
        GameButtonEntry button = {};
        button.x = GetInt(section, "x", 0);
        button.y = GetInt(section, "y", 0);
        button.type = GetInt(section, "type", 0);
        button.image = GetInt(section, "image", 0);
        GetText(section, "title", "", button.title, sizeof button.title);
        GetText(section, "url", "", button.url, sizeof button.url);
        GetText(section, "tips", "", button.tips, sizeof button.tips);
        button.color = static_cast<COLORREF>(GetInt(section, "color", 16777215));
        gameButtons_.push_back(button);
    }
    return true;
}

IStream* LauncherConfig::OpenPackageStream(const char* entryName) {
    std::vector<uint8_t> bytes;
    if (!ReadPackageEntry(entryName, bytes)) {
        ShowFailure(L"读取图片失败");
        return nullptr;
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size() ? bytes.size() : 1);
    if (!block) return nullptr;
    void* target = GlobalLock(block);
    if (!target) {
        GlobalFree(block);
        return nullptr;
    }
    if (!bytes.empty()) memcpy(target, bytes.data(), bytes.size());
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
        GlobalFree(block);
        return nullptr;
    }
    ULARGE_INTEGER streamSize;
    streamSize.QuadPart = bytes.size();
    stream->SetSize(streamSize);
    return stream;
}

bool LauncherConfig::LoadPackageImage(const char* entryName, CImage& image) {
    IStream* stream = OpenPackageStream(entryName);
    if (!stream) return false;
    bool loaded = SUCCEEDED(image.Load(stream));
    stream->Release();
    return loaded;
}

bool LauncherConfig::LoadPackageBitmap(const char* entryName, Gdiplus::Bitmap** bitmap) {
    *bitmap = nullptr;
    IStream* stream = OpenPackageStream(entryName);
    if (!stream) return false;
    Gdiplus::Bitmap* decoded = Gdiplus::Bitmap::FromStream(stream, FALSE);
    stream->Release();
    // An entry that is no picture fails here, so that no window is handed a broken skin.
    if (!decoded || decoded->GetLastStatus() != Gdiplus::Ok) {
        delete decoded;
        ShowFailure(L"读取图片失败");
        return false;
    }
    *bitmap = decoded;
    return true;
}
