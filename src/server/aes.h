// The AES block cipher (FIPS-197) with 128-, 192- and 256-bit keys, table-driven: four
// 256-entry round tables per direction, computed once per process from GF(2^8)
// arithmetic. Decryption uses the equivalent inverse cipher.
#pragma once

#include <stddef.h>
#include <stdint.h>

class CAesCipher {
public:
    enum { kBlockBytes = 16 };

    CAesCipher() = default;
    ~CAesCipher();
    CAesCipher(const CAesCipher&) = delete;
    CAesCipher& operator=(const CAesCipher&) = delete;

    // Expands a 16-, 24- or 32-byte key into the round keys of both directions.
    // False for any other length (the cipher then has no key).
    bool SetKey(const uint8_t* key, size_t length);
    bool HasKey() const { return rounds_ != 0; }
    int Rounds() const { return rounds_; }

    // One 16-byte block; in and out may be the same buffer. Need a key.
    void EncryptBlock(const uint8_t* in, uint8_t* out) const;
    void DecryptBlock(const uint8_t* in, uint8_t* out) const;

private:
    int rounds_ = 0;  // 10, 12 or 14
    uint32_t encryptKeys_[60];
    uint32_t decryptKeys_[60];
};
