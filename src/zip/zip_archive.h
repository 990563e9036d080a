// The byte-level core of the zip reader over minizip's unzip interface: minizip's file
// functions over a source (a memory block here; files and handles through the reading
// functions the Win32 side gives), the sizes an item can plausibly have, stepping to an
// item and its extraction into memory. Portable: no Windows headers.
#pragma once

#include <stdint.h>

#include "unzip.h"
#include "zip/zip_result.h"

enum : uint32_t {
    kZipNameCapacity = 260,  // a stored name with its NUL; longer names are cut
};
constexpr int32_t kZipNone = -1;
constexpr uLong kZipFlagEncrypted = 0x0001;
constexpr uLong kZipFlagUtf8Name = 0x0800;

// Where minizip reads the archive from. Positions are relative to `base`, the place
// where the archive begins; `size` is meaningful for memory blocks only. A file or a
// handle is read through readFile and measured through fileLength, which the Win32 side
// sets with its handle in `file`.
struct ZipSource {
    int32_t kind;
    const uint8_t* data;
    uint64_t size;
    void* file;
    uint64_t base;
    uint64_t pos;
    bool seekable;
    int error;
    // Up to size bytes at pos (or, unseekable, the next ones) into buffer; sets error on
    // a failed read. Returns how many arrived.
    uint32_t (*readFile)(ZipSource* source, uint8_t* buffer, uint32_t size);
    // The bytes from base to the end of the file.
    bool (*fileLength)(const ZipSource* source, uint64_t* length);
};

// An archive open in minizip, and where minizip stands in it.
struct ZipArchive {
    unzFile archive;
    ZipSource source;
    int32_t count;        // items in the central directory
    int32_t position;     // item minizip currently points at, kZipNone when unknown
    int32_t currentItem;  // item open for streamed extraction into memory
};

namespace zipcore {

// Opens the archive over archive->source (set by the caller; position and currentItem
// kZipNone) and counts its items. ZR_CORRUPT when minizip finds no archive there.
uint32_t OpenArchive(ZipArchive* archive);
// Closes the item open for extraction and the archive; the source is the caller's.
void CloseArchive(ZipArchive* archive);

void CloseItem(ZipArchive* r);

// Points minizip at item `index` (0 <= index < count), stepping from the current item
// when it lies before the target.
bool MoveTo(ZipArchive* r, int32_t index);

// Central-directory record of the item minizip points at, with its name (at most
// kZipNameCapacity - 1 bytes, NUL-terminated).
bool CurrentItemHeader(ZipArchive* r, unz_file_info64* fi, char* name);

// Stored or deflated, and not encrypted.
bool Supported(const unz_file_info64* fi);

// Sizes a genuine item can have, checked before any size leaves the reader: the record
// keeps them as 32-bit signed values, no item is larger than the archive, a stored item
// holds its data as they are (an encrypted one behind its header), and deflate makes at
// most 1032 bytes of one.
bool PlausibleSizes(const ZipArchive* r, const unz_file_info64* fi);

// Moves to `index` and opens it for reading; minizip checks the local header against
// the central directory on the way.
uint32_t OpenItem(ZipArchive* r, int32_t index);

// The next bytes of item `index` into buffer[0 .. length): ZR_MORE while bytes were
// delivered and more remain (the next call with the same index continues), ZR_OK when the
// item is complete and its CRC matches, ZR_FLATE when its data are damaged.
uint32_t ExtractToMemory(ZipArchive* r, int32_t index, uint8_t* buffer, uint32_t length);

}  // namespace zipcore
