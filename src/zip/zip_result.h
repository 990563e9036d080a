// The zip reader's source and target kinds and its result codes (0 = success), shared by
// its portable core (zip_archive.h) and its Windows front (zip_reader.h).
#pragma once

#include <stdint.h>

// Source and target kinds.
enum ZipKind : int32_t {
    ZipFromHandle = 1,
    ZipFromFile = 2,
    ZipFromMemory = 3,
};

// Result codes.
enum : uint32_t {
    ZR_OK = 0x00000000,
    ZR_NODUPH = 0x00000100,
    ZR_NOFILE = 0x00000200,
    ZR_NOALLOC = 0x00000300,
    ZR_WRITE = 0x00000400,
    ZR_NOTFOUND = 0x00000500,
    ZR_MORE = 0x00000600,
    ZR_CORRUPT = 0x00000700,
    ZR_READ = 0x00000800,
    ZR_ARGS = 0x00010000,
    ZR_NOTMMAP = 0x00020000,
    ZR_MEMSIZE = 0x00030000,
    ZR_FAILED = 0x00040000,
    ZR_ENDED = 0x00050000,
    ZR_MISSIZE = 0x00060000,
    ZR_PARTIALUNZ = 0x00070000,
    ZR_ZMODE = 0x00080000,
    ZR_NOTINITED = 0x01000000,
    ZR_SEEK = 0x02000000,
    ZR_NOCHANGE = 0x04000000,
    ZR_FLATE = 0x05000000,
};
