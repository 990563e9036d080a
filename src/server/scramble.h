// Keeping the game's files from lying on disk in the clear: the cache scrambling of
// the first bytes of every cached resource, and the decryption of the game frame (the
// encrypted Flash movie).
#pragma once

#include <stddef.h>
#include <stdint.h>

// The two 16-byte key tables, as four 32-bit words applied little-endian.
extern const uint32_t kCacheKeyTable[4];
extern const uint32_t kFrameKeyTable[4];

// XORs the little-endian 32-bit word i of buffer (i = 0 .. byteCount / 4 - 1) with
// table[i % 4]; trailing bytes that do not fill a word are untouched. Returns the
// number of words changed. Applying it twice restores the buffer.
size_t XorKeyTable(void* buffer, size_t byteCount, const uint32_t table[4]);

// The cache scrambling: XorKeyTable with the cache key table. Callers pass at most
// the first 256 bytes of a file. Any thread.
size_t ScrambleWords(void* buffer, size_t byteCount);

// Decrypts the game frame: AES in ECB mode with key (its strlen bytes: 16, 24 or 32)
// over every complete 16-byte block, the last length % 16 bytes copied as they are,
// then every whole 32-bit word XORed with the frame key table. output needs length
// bytes and may be input itself. Returns length, or -1 (output untouched) for a
// missing buffer or key, a key of another length, or a negative length.
int DecryptGameFrame(const void* input, int length, const char* key, void* output);
