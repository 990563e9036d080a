// Reading front over minizip: opens a ZIP archive held in memory, in a named file or
// behind an open handle, finds and queries items and extracts them to memory, files
// or handles. Every operation returns a result code (0 = success).
#pragma once

#include <windows.h>
#include <stdint.h>

#include "zip/zip_result.h"

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
