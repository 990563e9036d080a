// The configuration record: opens the package appended to the executable, parses its
// config/cg.txt (ConfigText) and serves the package's images. Loaded once at start-up,
// read-only after.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "app/config_text.h"
#include "framework/handles.h"
#include "zip/zip_reader.h"

class CImage;
namespace Gdiplus {
class Bitmap;
}

// Where the package lies inside an executable image: the end of the raw data of its
// last section. Returns false when the headers are not those of a PE image or lie
// outside the `size` bytes given.
bool FindPackageOffset(const uint8_t* image, uint64_t size, uint64_t* offset);

class LauncherConfig : public ConfigText {
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
    // ReadSettingsFields, its refusals shown: false when the settings cannot be used.
    bool ReadSettings();

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

    ZipHandle* package_ = nullptr;
    CHandle file_;
    CHandle mapping_;
    CMappedView view_;
    MessageBoxFunction messageBox_ = MessageBoxW;
};
