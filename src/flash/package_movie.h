// The splash movie from the package: read into memory and loaded into a control through
// a FlashMemoryStream over it.
#pragma once

#include <stdint.h>

#include <memory>
#include <vector>

#include "app/launcher_config.h"
#include "flash/shockwave_flash.h"

// A movie read from the package and the stream the control loads it from. The stream
// reads the bytes in place, so both stay together; the owner keeps them as long as it
// likes (the control has read everything once its Load has returned).
struct PackageMovie {
    std::vector<uint8_t> bytes;
    std::unique_ptr<FlashMemoryStream> stream;
};

// Reads the package entry `name` into `movie` and makes its stream. A missing entry
// shows "读取图片失败" (caption "启动失败") and fails.
bool OpenPackageMovieStream(LauncherConfig& config, const wchar_t* name, PackageMovie& movie);

// Loads the package entry `name` into the control, starts it and shows it; `movie` keeps
// the bytes and their stream. False without a control, or as OpenPackageMovieStream and
// LoadMovieFromStream fail.
bool LoadPackageMovie(LauncherConfig& config, CShockwaveFlash* control, const wchar_t* name, PackageMovie& movie);
