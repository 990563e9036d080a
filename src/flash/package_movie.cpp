#include "flash/package_movie.h"

#include <string>

#include "framework/text.h"

bool OpenPackageMovieStream(LauncherConfig& config, const wchar_t* name, PackageMovie& movie) {
    std::vector<uint8_t> bytes;
    if (!name || !config.ReadPackageEntry(Utf8FromWide(name).c_str(), bytes)) {
        MessageBoxW(nullptr, L"读取图片失败", L"启动失败", MB_OK);
        return false;
    }
    movie.stream.reset();
    movie.bytes = std::move(bytes);
    movie.stream = std::make_unique<FlashMemoryStream>(movie.bytes.data(), static_cast<uint32_t>(movie.bytes.size()));
    return true;
}

bool LoadPackageMovie(LauncherConfig& config, CShockwaveFlash* control, const wchar_t* name, PackageMovie& movie) {
    if (!control || !name || !control->GetControlUnknown()) return false;
    if (!OpenPackageMovieStream(config, name, movie)) return false;
    return LoadMovieFromStream(*control, movie.stream.get());
}
