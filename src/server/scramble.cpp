#include "server/scramble.h"

#include <string.h>

#include "server/aes.h"

const uint32_t kCacheKeyTable[4] = {0x6F2677F1u, 0x671D4082u, 0xEA1FE59Cu, 0xDFCB498Fu};
const uint32_t kFrameKeyTable[4] = {0xA6EC1748u, 0x942A3879u, 0x294E3D9Cu, 0xD8CE54C0u};

size_t XorKeyTable(void* buffer, size_t byteCount, const uint32_t table[4]) {
    if (!buffer || !table) return 0;
    uint8_t* p = static_cast<uint8_t*>(buffer);
    const size_t words = byteCount / 4;
    for (size_t i = 0; i < words; ++i, p += 4) {
        const uint32_t k = table[i % 4];
        p[0] ^= uint8_t(k);
        p[1] ^= uint8_t(k >> 8);
        p[2] ^= uint8_t(k >> 16);
        p[3] ^= uint8_t(k >> 24);
    }
    return words;
}

size_t ScrambleWords(void* buffer, size_t byteCount) {
    return XorKeyTable(buffer, byteCount, kCacheKeyTable);
}

int DecryptGameFrame(const void* input, int length, const char* key, void* output) {
    if (!input || !key || !output || length < 0) return -1;
    CAesCipher cipher;
    if (!cipher.SetKey(reinterpret_cast<const uint8_t*>(key), strlen(key))) return -1;
    const uint8_t* in = static_cast<const uint8_t*>(input);
    uint8_t* out = static_cast<uint8_t*>(output);
    const size_t size = static_cast<size_t>(length);
    const size_t blocks = size / CAesCipher::kBlockBytes * CAesCipher::kBlockBytes;
    for (size_t at = 0; at < blocks; at += CAesCipher::kBlockBytes)
        cipher.DecryptBlock(in + at, out + at);
    if (size > blocks) memmove(out + blocks, in + blocks, size - blocks);
    XorKeyTable(out, size, kFrameKeyTable);
    return length;
}
