#include "app/launcher_config.h"

#include <ole2.h>
#include <gdiplus.h>
#include <string.h>

#include "framework/image.h"
#include "framework/text.h"

namespace {

uint32_t ReadU32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

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

LauncherConfig::LauncherConfig() {}

LauncherConfig::~LauncherConfig() {
    ClosePackage();
    FreeToWideBuffer();
}

void LauncherConfig::ShowFailure(const wchar_t* text, const wchar_t* caption) const {
    messageBox_(nullptr, text, caption, MB_OK);
}

void LauncherConfig::ClosePackage() {
    if (package_) ReleaseZip(package_);
    package_ = nullptr;
    view_.Reset();
    mapping_.Reset();
    file_.Reset();
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
    file_.Reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file_.valid()) return false;
    DWORD size = GetFileSize(file_.get(), nullptr);
    mapping_.Reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping_.valid()) {
        ShowFailure(L"CreateMapFile fail");
        ClosePackage();
        return false;
    }
    view_.Reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view_.valid()) {
        ClosePackage();
        return false;
    }
    const uint8_t* image = static_cast<const uint8_t*>(view_.get());
    // An image whose headers cannot be read has no package we could find either.
    uint64_t offset = 0;
    if (size == INVALID_FILE_SIZE || !FindPackageOffset(image, size, &offset) || offset >= size) {
        ShowFailure(L"没有附加配置文件,请打包配置文件");
        ClosePackage();
        return false;
    }
    package_ = OpenZip(image + offset, static_cast<uint32_t>(size - offset), ZipFromMemory);
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

bool LauncherConfig::ReadSettings() {
    switch (ReadSettingsFields()) {
    case kSettingsRead:
        return true;
    case kSettingsBadKeyLength:
        ShowFailure(L"len error", L"load fail");
        return false;
    case kSettingsTooMany:
        ShowFailure(L"装载ini文件失败");
        return false;
    case kSettingsNoLinks:
        break;
    }
    return false;
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
    CComPtr<IStream> stream(OpenPackageStream(entryName));
    if (!stream) return false;
    return SUCCEEDED(image.Load(stream.get()));
}

bool LauncherConfig::LoadPackageBitmap(const char* entryName, Gdiplus::Bitmap** bitmap) {
    *bitmap = nullptr;
    CComPtr<IStream> stream(OpenPackageStream(entryName));
    if (!stream) return false;
    Gdiplus::Bitmap* decoded = Gdiplus::Bitmap::FromStream(stream.get(), FALSE);
    stream.Reset();
    // An entry that is no picture fails here, so that no window is handed a broken skin.
    if (!decoded || decoded->GetLastStatus() != Gdiplus::Ok) {
        delete decoded;
        ShowFailure(L"读取图片失败");
        return false;
    }
    *bitmap = decoded;
    return true;
}
