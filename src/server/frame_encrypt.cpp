#include "server/frame_encrypt.h"

#include <string.h>

#include "server/aes.h"
#include "server/scramble.h"

int EncryptGameFrame(const void* input, int length, const char* key, void* output) {
    if (!input || !key || !output || length < 0) return -1;
    CAesCipher cipher;
    if (!cipher.SetKey(reinterpret_cast<const uint8_t*>(key), strlen(key))) return -1;
    uint8_t* out = static_cast<uint8_t*>(output);
    const size_t size = static_cast<size_t>(length);
    memmove(out, input, size);
    XorKeyTable(out, size, kFrameKeyTable);
    const size_t blocks = size / CAesCipher::kBlockBytes * CAesCipher::kBlockBytes;
    for (size_t at = 0; at < blocks; at += CAesCipher::kBlockBytes)
        cipher.EncryptBlock(out + at, out + at);
    return length;
}
