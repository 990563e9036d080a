// The zip reader's core over an archive in memory. The input is the archive. Beyond
// surviving any input: an item whose sizes are refused is never opened, and an item read
// to its end delivers exactly its stated size, never more.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "fuzz_check.h"
#include "zip/zip_archive.h"

namespace {

// What a caller extracts of one item at most.
const uint64_t kExtractCap = 4u << 20;
// Items up to this size are read a byte at a time, so that every byte is counted.
const uint64_t kCountedSize = 64u << 10;

void ReadItem(ZipArchive* archive, int32_t index, uint64_t statedSize) {
    const uint32_t chunk = statedSize <= kCountedSize ? 1 : 4096;
    std::vector<uint8_t> buffer(chunk);
    uint64_t calls = 0;  // that left more to read
    for (;;) {
        const uint32_t result = zipcore::ExtractToMemory(archive, index, buffer.data(), chunk);
        if (result == ZR_OK && chunk == 1) Check(calls + (statedSize > 0 ? 1 : 0) == statedSize);
        if (result != ZR_MORE) return;
        ++calls;
        if (chunk == 1) Check(calls < statedSize);
        if (calls * chunk >= kExtractCap) {
            zipcore::CloseItem(archive);
            return;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZipArchive archive = {};
    archive.source.kind = ZipFromMemory;
    archive.source.data = data;
    archive.source.size = size;
    archive.source.seekable = true;
    archive.position = kZipNone;
    archive.currentItem = kZipNone;
    if (zipcore::OpenArchive(&archive) == ZR_OK) {
        for (int32_t i = 0; i < archive.count && i < 64; ++i) {
            unz_file_info64 info;
            char name[kZipNameCapacity];
            if (!zipcore::MoveTo(&archive, i) || !zipcore::CurrentItemHeader(&archive, &info, name)) break;
            Check(strlen(name) < kZipNameCapacity);
            const bool usable = zipcore::Supported(&info) && zipcore::PlausibleSizes(&archive, &info);
            if (usable) Check(info.compressed_size <= size && info.uncompressed_size <= INT32_MAX);
            if (!usable) {
                Check(zipcore::OpenItem(&archive, i) == ZR_CORRUPT);
                continue;
            }
            ReadItem(&archive, i, info.uncompressed_size);
        }
    }
    zipcore::CloseArchive(&archive);
    return 0;
}
