#include "server/aes.h"

#include <string.h>

namespace {

// Column words hold the bytes of one state column little-endian: row 0 in the low byte.
inline uint32_t LoadWord(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void StoreWord(uint32_t w, uint8_t* p) {
    p[0] = uint8_t(w);
    p[1] = uint8_t(w >> 8);
    p[2] = uint8_t(w >> 16);
    p[3] = uint8_t(w >> 24);
}

inline uint32_t RotateLeft(uint32_t w, int bits) { return (w << bits) | (w >> (32 - bits)); }
inline uint8_t RotateByte(uint8_t b, int bits) { return uint8_t((b << bits) | (b >> (8 - bits))); }
inline uint8_t Times2(uint8_t b) { return uint8_t((b << 1) ^ ((b & 0x80) ? 0x1B : 0)); }

struct AesTables {
    uint8_t forwardSbox[256];
    uint8_t inverseSbox[256];
    uint32_t forward[4][256];  // SubBytes + MixColumns, one table per row
    uint32_t inverse[4][256];  // InvSubBytes + InvMixColumns, one table per row
    uint32_t roundConstants[10];

    AesTables() {
        // Powers of the generator 3 and their logarithms.
        uint8_t power[256], logarithm[256] = {};
        uint8_t x = 1;
        for (int i = 0; i < 256; ++i) {
            power[i] = x;
            logarithm[x] = uint8_t(i % 255);
            x = uint8_t(x ^ Times2(x));
        }
        auto multiply = [&](uint8_t a, uint8_t b) -> uint8_t {
            return (a && b) ? power[(logarithm[a] + logarithm[b]) % 255] : 0;
        };

        x = 1;
        for (uint32_t& constant : roundConstants) {
            constant = x;
            x = Times2(x);
        }

        // S-box: the multiplicative inverse, then the affine transform with 0x63.
        for (int i = 0; i < 256; ++i) {
            uint8_t inverse = i == 0 ? 0 : power[(255 - logarithm[i]) % 255];
            uint8_t s = uint8_t(inverse ^ RotateByte(inverse, 1) ^ RotateByte(inverse, 2) ^
                                RotateByte(inverse, 3) ^ RotateByte(inverse, 4) ^ 0x63);
            forwardSbox[i] = s;
            inverseSbox[s] = uint8_t(i);
        }

        for (int i = 0; i < 256; ++i) {
            // MixColumns column (2, 1, 1, 3) for a byte in row 0.
            uint8_t s = forwardSbox[i];
            uint32_t f = uint32_t(multiply(2, s)) | uint32_t(s) << 8 | uint32_t(s) << 16 |
                         uint32_t(multiply(3, s)) << 24;
            // InvMixColumns column (14, 9, 13, 11) for a byte in row 0.
            uint8_t r = inverseSbox[i];
            uint32_t v = uint32_t(multiply(14, r)) | uint32_t(multiply(9, r)) << 8 |
                         uint32_t(multiply(13, r)) << 16 | uint32_t(multiply(11, r)) << 24;
            for (int row = 0; row < 4; ++row) {
                forward[row][i] = row ? RotateLeft(f, 8 * row) : f;
                inverse[row][i] = row ? RotateLeft(v, 8 * row) : v;
            }
        }
    }
};

// Built once, on first use, by whichever thread comes first; the others wait.
const AesTables& Tables() {
    static const AesTables tables;
    return tables;
}

uint32_t SubWord(const AesTables& t, uint32_t w) {
    return uint32_t(t.forwardSbox[w & 0xFF]) | uint32_t(t.forwardSbox[(w >> 8) & 0xFF]) << 8 |
           uint32_t(t.forwardSbox[(w >> 16) & 0xFF]) << 16 |
           uint32_t(t.forwardSbox[w >> 24]) << 24;
}

}  // namespace

CAesCipher::~CAesCipher() {
    volatile uint32_t* e = encryptKeys_;
    volatile uint32_t* d = decryptKeys_;
    for (int i = 0; i < 60; ++i) e[i] = d[i] = 0;
}

bool CAesCipher::SetKey(const uint8_t* key, size_t length) {
    rounds_ = 0;
    if (!key || (length != 16 && length != 24 && length != 32)) return false;
    const AesTables& t = Tables();
    const int keyWords = int(length / 4);
    const int rounds = keyWords + 6;
    const int total = 4 * (rounds + 1);
    uint32_t* w = encryptKeys_;
    for (int i = 0; i < keyWords; ++i) w[i] = LoadWord(key + 4 * i);
    for (int i = keyWords; i < total; ++i) {
        uint32_t temp = w[i - 1];
        if (i % keyWords == 0)
            temp = SubWord(t, RotateLeft(temp, 24)) ^ t.roundConstants[i / keyWords - 1];
        else if (keyWords > 6 && i % keyWords == 4)
            temp = SubWord(t, temp);
        w[i] = w[i - keyWords] ^ temp;
    }
    // Equivalent inverse cipher: round keys in reverse order, InvMixColumns applied to
    // all but the first and the last.
    uint32_t* d = decryptKeys_;
    for (int round = 0; round <= rounds; ++round) {
        const uint32_t* source = w + 4 * (rounds - round);
        for (int c = 0; c < 4; ++c) {
            uint32_t k = source[c];
            if (round > 0 && round < rounds)
                k = t.inverse[0][t.forwardSbox[k & 0xFF]] ^
                    t.inverse[1][t.forwardSbox[(k >> 8) & 0xFF]] ^
                    t.inverse[2][t.forwardSbox[(k >> 16) & 0xFF]] ^
                    t.inverse[3][t.forwardSbox[k >> 24]];
            d[4 * round + c] = k;
        }
    }
    rounds_ = rounds;
    return true;
}

void CAesCipher::EncryptBlock(const uint8_t* in, uint8_t* out) const {
    const AesTables& t = Tables();
    const uint32_t* k = encryptKeys_;
    uint32_t s0 = LoadWord(in) ^ k[0], s1 = LoadWord(in + 4) ^ k[1];
    uint32_t s2 = LoadWord(in + 8) ^ k[2], s3 = LoadWord(in + 12) ^ k[3];
    const uint32_t(*f)[256] = t.forward;
    for (int round = 1; round < rounds_; ++round) {
        k += 4;
        // ShiftRows: row r of column c comes from column c + r.
        uint32_t t0 = k[0] ^ f[0][s0 & 0xFF] ^ f[1][(s1 >> 8) & 0xFF] ^ f[2][(s2 >> 16) & 0xFF] ^ f[3][s3 >> 24];
        uint32_t t1 = k[1] ^ f[0][s1 & 0xFF] ^ f[1][(s2 >> 8) & 0xFF] ^ f[2][(s3 >> 16) & 0xFF] ^ f[3][s0 >> 24];
        uint32_t t2 = k[2] ^ f[0][s2 & 0xFF] ^ f[1][(s3 >> 8) & 0xFF] ^ f[2][(s0 >> 16) & 0xFF] ^ f[3][s1 >> 24];
        uint32_t t3 = k[3] ^ f[0][s3 & 0xFF] ^ f[1][(s0 >> 8) & 0xFF] ^ f[2][(s1 >> 16) & 0xFF] ^ f[3][s2 >> 24];
        s0 = t0, s1 = t1, s2 = t2, s3 = t3;
    }
    k += 4;
    const uint8_t* sb = t.forwardSbox;
    auto last = [sb](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return uint32_t(sb[a & 0xFF]) | uint32_t(sb[(b >> 8) & 0xFF]) << 8 |
               uint32_t(sb[(c >> 16) & 0xFF]) << 16 | uint32_t(sb[d >> 24]) << 24;
    };
    uint32_t o0 = k[0] ^ last(s0, s1, s2, s3), o1 = k[1] ^ last(s1, s2, s3, s0);
    uint32_t o2 = k[2] ^ last(s2, s3, s0, s1), o3 = k[3] ^ last(s3, s0, s1, s2);
    StoreWord(o0, out), StoreWord(o1, out + 4), StoreWord(o2, out + 8), StoreWord(o3, out + 12);
}

void CAesCipher::DecryptBlock(const uint8_t* in, uint8_t* out) const {
    const AesTables& t = Tables();
    const uint32_t* k = decryptKeys_;
    uint32_t s0 = LoadWord(in) ^ k[0], s1 = LoadWord(in + 4) ^ k[1];
    uint32_t s2 = LoadWord(in + 8) ^ k[2], s3 = LoadWord(in + 12) ^ k[3];
    const uint32_t(*v)[256] = t.inverse;
    for (int round = 1; round < rounds_; ++round) {
        k += 4;
        // InvShiftRows: row r of column c comes from column c - r.
        uint32_t t0 = k[0] ^ v[0][s0 & 0xFF] ^ v[1][(s3 >> 8) & 0xFF] ^ v[2][(s2 >> 16) & 0xFF] ^ v[3][s1 >> 24];
        uint32_t t1 = k[1] ^ v[0][s1 & 0xFF] ^ v[1][(s0 >> 8) & 0xFF] ^ v[2][(s3 >> 16) & 0xFF] ^ v[3][s2 >> 24];
        uint32_t t2 = k[2] ^ v[0][s2 & 0xFF] ^ v[1][(s1 >> 8) & 0xFF] ^ v[2][(s0 >> 16) & 0xFF] ^ v[3][s3 >> 24];
        uint32_t t3 = k[3] ^ v[0][s3 & 0xFF] ^ v[1][(s2 >> 8) & 0xFF] ^ v[2][(s1 >> 16) & 0xFF] ^ v[3][s0 >> 24];
        s0 = t0, s1 = t1, s2 = t2, s3 = t3;
    }
    k += 4;
    const uint8_t* sb = t.inverseSbox;
    auto last = [sb](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return uint32_t(sb[a & 0xFF]) | uint32_t(sb[(b >> 8) & 0xFF]) << 8 |
               uint32_t(sb[(c >> 16) & 0xFF]) << 16 | uint32_t(sb[d >> 24]) << 24;
    };
    uint32_t o0 = k[0] ^ last(s0, s3, s2, s1), o1 = k[1] ^ last(s1, s0, s3, s2);
    uint32_t o2 = k[2] ^ last(s2, s1, s0, s3), o3 = k[3] ^ last(s3, s2, s1, s0);
    StoreWord(o0, out), StoreWord(o1, out + 4), StoreWord(o2, out + 8), StoreWord(o3, out + 12);
}
