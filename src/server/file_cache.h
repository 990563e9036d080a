// The cache on disk and the check value that decides whether a cached file is valid.
//
// A cached resource lives at cache directory + name (every "/" turned into "\"). It
// holds the bytes the content server delivered, except that its first 256 bytes (whole
// 32-bit words only) are scrambled with ScrambleWords.
//
// The check value of a file: for an extension in the suffix list the CRC-32 of its
// (descrambled) content, otherwise its size (low 32 bits); 0 for a name without ".".
#pragma once

#include <stddef.h>
#include <stdint.h>

const int64_t kCacheScrambledBytes = 256;
// Bytes read from a cached file per call.
const int64_t kCacheReadChunk = 16 * 1024;

// Whether the extension of path (the text after its last ".") is in the suffix list;
// false for a path without ".".
bool IsListedPath(const wchar_t* path);

// The check value of data[0 .. length) for a file named path.
uint32_t CheckValueOfBytes(const wchar_t* path, const void* data, size_t length);

// The check value of the file at path, which holds scrambled content when scrambled is
// set. False when the file cannot be opened or read to its end; *value is then
// untouched. A file that is not valid this way never matches anything.
bool CheckValueOfFile(const wchar_t* path, bool scrambled, uint32_t* value);

// The check value of data (when given with dataLength > 0) or of the file at path.
// 0 without a path, for a path without ".", and for a file that cannot be read.
uint32_t FileSrvCheckValue(const wchar_t* path, const void* data, size_t dataLength, bool scrambled);

// Creates or truncates the file at path and writes data[0 .. length) to it as it is.
// False when the file cannot be created or the write falls short.
bool FileSrvSaveFile(const wchar_t* path, const void* data, size_t length);
