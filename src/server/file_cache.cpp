#include "server/file_cache.h"

#include <wchar.h>

#include <zlib.h>

#include "ravlib/stream.h"
#include "server/scramble.h"
#include "server/suffix_list.h"

using ravlib::stream::CFileStream;

namespace {

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t length) {
    while (length > 0) {
        const uInt step = length > 0x40000000u ? 0x40000000u : static_cast<uInt>(length);
        crc = static_cast<uint32_t>(crc32(crc, data, step));
        data += step;
        length -= step;
    }
    return crc;
}

const wchar_t* Extension(const wchar_t* path) {
    if (!path) return nullptr;
    const wchar_t* dot = wcsrchr(path, L'.');
    return dot ? dot + 1 : nullptr;
}

}  // namespace

bool IsListedPath(const wchar_t* path) {
    const wchar_t* extension = Extension(path);
    return extension && IsListedSuffix(extension);
}

uint32_t CheckValueOfBytes(const wchar_t* path, const void* data, size_t length) {
    if (!Extension(path)) return 0;
    if (IsListedPath(path)) return Crc32Update(0, static_cast<const uint8_t*>(data), length);
    return static_cast<uint32_t>(length);
}

bool CheckValueOfFile(const wchar_t* path, bool scrambled, uint32_t* value) {
    if (!path || !value) return false;
    CFileStream file(path, ravlib::stream::kStreamModeOpen);
    if (!file.IsOpen()) return false;
    const int64_t size = file.GetSize();
    if (size < 0) return false;
    if (!Extension(path)) {
        *value = 0;
        return true;
    }
    if (!IsListedPath(path)) {
        *value = static_cast<uint32_t>(size);
        return true;
    }
    uint8_t chunk[kCacheReadChunk];
    uint32_t crc = 0;
    int64_t total = 0;
    for (;;) {
        const int64_t got = file.Read(chunk, sizeof chunk);
        if (got < 0) return false;
        if (got == 0) break;
        // The scrambled words all lie in the first 256 bytes, which the first read
        // holds whole unless the file is shorter.
        if (scrambled && total == 0)
            ScrambleWords(chunk, static_cast<size_t>(got < kCacheScrambledBytes ? got : kCacheScrambledBytes));
        crc = Crc32Update(crc, chunk, static_cast<size_t>(got));
        total += got;
    }
    if (total != size) return false;
    *value = crc;
    return true;
}

uint32_t FileSrvCheckValue(const wchar_t* path, const void* data, size_t dataLength, bool scrambled) {
    if (!path) return 0;
    if (data && dataLength > 0) return CheckValueOfBytes(path, data, dataLength);
    uint32_t value = 0;
    return CheckValueOfFile(path, scrambled, &value) ? value : 0;
}

bool FileSrvSaveFile(const wchar_t* path, const void* data, size_t length) {
    if (!path || (!data && length > 0)) return false;
    CFileStream file(path, ravlib::stream::kStreamModeCreate);
    if (!file.IsOpen() || file.Seek(0, ravlib::stream::SeekBegin) != 0) return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    size_t written = 0;
    while (written < length) {
        const int64_t wrote = file.Write(bytes + written, static_cast<int64_t>(length - written));
        if (wrote <= 0) return false;
        written += static_cast<size_t>(wrote);
    }
    return true;
}
