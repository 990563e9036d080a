// Reading front over minizip: opens a ZIP archive held in memory, in a named file or
// behind an open handle, finds and queries items and extracts them to memory, files
// or handles. Every operation returns a result code (0 = success).
#pragma once

#include <windows.h>
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

// Given to DescribeZipResult, stands for the last result of the process.
constexpr uint32_t ZR_RECENT = 0x00000001;

struct ZipItemInfo {
    int32_t index;
    char name[260];
    uint32_t attributes;
    FILETIME accessTime, creationTime, modificationTime;
    int32_t compressedSize;
    int32_t uncompressedSize;
};

struct ZipItemInfoW {
    int32_t index;
    wchar_t name[260];
    uint32_t attributes;
    FILETIME accessTime, creationTime, modificationTime;
    int32_t compressedSize;
    int32_t uncompressedSize;
};

class ZipReader;

struct ZipHandle {
    int32_t kindTag;  // 1 for a reading archive
    ZipReader* reader;
};

// source: a HANDLE (ZipFromHandle), a const wchar_t* file name (ZipFromFile) or a
// memory block of `length` bytes (ZipFromMemory). Returns nullptr on failure; the
// last result then holds the reason.
ZipHandle* OpenZip(const void* source, uint32_t length, int32_t kind);

uint32_t LocateZipItem(ZipHandle* zip, const wchar_t* name, bool ignoreCase,
                       int32_t* index, ZipItemInfo* info);
uint32_t LocateZipItemW(ZipHandle* zip, const wchar_t* name, bool ignoreCase,
                        int32_t* index, ZipItemInfoW* info);

// index -1 asks for the archive as a whole (the item count lands in info->index).
uint32_t QueryZipItem(ZipHandle* zip, int32_t index, ZipItemInfo* info);
uint32_t QueryZipItemW(ZipHandle* zip, int32_t index, ZipItemInfoW* info);

// target: a buffer of `length` bytes (ZipFromMemory), a const wchar_t* file name
// (ZipFromFile) or a HANDLE (ZipFromHandle). Into memory the result is ZR_MORE while
// bytes were delivered; the next call with the same index continues.
uint32_t ExtractZipItem(ZipHandle* zip, int32_t index, void* target, uint32_t length,
                        int32_t kind);

uint32_t ReleaseZip(ZipHandle* zip);

// Copies the message of `code` (ZR_RECENT: the last result) into buffer, cut to
// size - 1 characters and terminated; returns the full message length.
uint32_t DescribeZipResult(uint32_t code, wchar_t* buffer, uint32_t size);
