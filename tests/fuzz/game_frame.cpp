// The game frame's decryption and the cache scrambling. The input's first byte picks the
// key's length (16, 24 or 32 bytes), the key's bytes follow (a NUL ends the key short;
// the decryption then takes it only at 16 or 24 bytes), the rest is the frame. Beyond
// surviving any input: encrypting what was decrypted gives the frame back, decrypting in
// place gives what decrypting into another buffer gives, scrambling twice restores the
// bytes, and every AES block decrypted and encrypted again is itself.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "server/aes.h"
#include "server/frame_encrypt.h"
#include "server/scramble.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t keyLength = 16 + 8 * (data[0] % 3);
    if (size < 1 + keyLength) return 0;
    const std::string key(reinterpret_cast<const char*>(data + 1), keyLength);
    const uint8_t* frame = data + 1 + keyLength;
    const size_t frameLength = size - 1 - keyLength;
    const int length = static_cast<int>(frameLength);
    const size_t keyUsed = strlen(key.c_str());
    const bool keyWhole = keyUsed == 16 || keyUsed == 24 || keyUsed == 32;

    // One byte more than the frame in every buffer: an empty frame still has a place, and
    // a write beyond the frame shows.
    std::vector<uint8_t> plain(frameLength + 1, 0xA5), inPlace(frameLength + 1);
    memcpy(inPlace.data(), frame, frameLength);
    const int decrypted = DecryptGameFrame(frame, length, key.c_str(), plain.data());
    Check(decrypted == (keyWhole ? length : -1));
    Check(plain[frameLength] == 0xA5);
    Check(DecryptGameFrame(inPlace.data(), length, key.c_str(), inPlace.data()) == decrypted);
    if (decrypted < 0) {
        Check(memcmp(inPlace.data(), frame, frameLength) == 0);
        return 0;
    }
    Check(memcmp(inPlace.data(), plain.data(), frameLength) == 0);

    std::vector<uint8_t> again(frameLength + 1);
    Check(EncryptGameFrame(plain.data(), length, key.c_str(), again.data()) == length);
    Check(memcmp(again.data(), frame, frameLength) == 0);

    std::vector<uint8_t> scrambled(inPlace);
    memcpy(scrambled.data(), frame, frameLength);
    const size_t scrambledLength = frameLength < 256 ? frameLength : 256;
    Check(ScrambleWords(scrambled.data(), scrambledLength) == scrambledLength / 4);
    Check(ScrambleWords(scrambled.data(), scrambledLength) == scrambledLength / 4);
    Check(memcmp(scrambled.data(), frame, frameLength) == 0);

    CAesCipher cipher;
    Check(cipher.SetKey(reinterpret_cast<const uint8_t*>(key.data()), keyUsed));
    Check(cipher.Rounds() == 6 + static_cast<int>(keyUsed / 4));
    for (size_t at = 0; at + CAesCipher::kBlockBytes <= frameLength; at += CAesCipher::kBlockBytes) {
        uint8_t block[CAesCipher::kBlockBytes];
        cipher.DecryptBlock(frame + at, block);
        cipher.EncryptBlock(block, block);
        Check(memcmp(block, frame + at, sizeof block) == 0);
    }
    return 0;
}
