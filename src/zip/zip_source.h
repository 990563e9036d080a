// Where a reading archive comes from, for minizip (zip_archive.h): a memory block read
// in place, a file opened by name, or a duplicate of the caller's handle read from where
// that handle stood. Private to the zip reader; used on the thread that owns the reader.
#pragma once

#include <stdint.h>

#include "framework/handles.h"
#include "zip/zip_archive.h"

// Sets `source` up as kind ZipFromHandle (`from` a HANDLE), ZipFromFile (`from` a
// const wchar_t* file name) or ZipFromMemory (`from` a block of `length` bytes, read in
// place: it must outlive the archive). The file opened or the handle duplicated goes to
// `file`, also when setting up failed half-way; the source reads through it, so `file`
// outlives the source's use.
// Returns ZR_OK, or ZR_NODUPH, ZR_NOFILE, ZR_SEEK (not a disk file, or its position unknown) or
// ZR_ARGS (another kind).
uint32_t OpenZipSource(ZipSource* source, CHandle* file, const void* from, uint32_t length, int32_t kind);
