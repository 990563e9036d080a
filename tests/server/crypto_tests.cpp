// The AES block cipher, the cache scrambling and the game-frame decryption, with the
// publisher's encryption as its counterpart.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "server/aes.h"
#include "server/frame_encrypt.h"
#include "server/scramble.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes FromHex(const char* hex) {
    Bytes bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        unsigned value = 0;
        sscanf(hex + i, "%2x", &value);
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

Bytes Pattern(size_t n, uint32_t seed) {
    Bytes bytes(n);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return bytes;
}

// A buffer's bytes; an empty buffer still gives a valid place (a null one means "no
// buffer" to the frame operations).
uint8_t* At(Bytes& bytes) {
    static uint8_t spare;
    return bytes.empty() ? &spare : bytes.data();
}
const uint8_t* At(const Bytes& bytes) { return At(const_cast<Bytes&>(bytes)); }

const char* const kKeys[] = {
    "Kp7Vw2QmX9tLr4Bz",                  // 16 bytes: AES-128
    "Kp7Vw2QmX9tLr4BzQ8sD3fGh",          // 24 bytes: AES-192
    "Kp7Vw2QmX9tLr4BzQ8sD3fGhJ6kL1zX5",  // 32 bytes: AES-256
};

// First, while nothing has built the cipher's tables yet: threads that encrypt and
// decrypt at the same moment all get the same results (the published examples below
// then run on the tables built during this race).
struct FrameThread {
    const std::atomic<bool>* start;
    const Bytes* movie;
    Bytes frame, plain;
    int encrypted = 0, decrypted = 0;
    void Run() {
        const int length = static_cast<int>(movie->size());
        frame.assign(movie->size(), 0);
        plain.assign(movie->size(), 0);
        while (!start->load()) std::this_thread::yield();
        encrypted = EncryptGameFrame(movie->data(), length, kKeys[2], frame.data());
        decrypted = DecryptGameFrame(frame.data(), length, kKeys[2], plain.data());
    }
};

TEST(GameFrame, ThreadsWorkingAtOnceAgree) {
    const Bytes movie = Pattern(100000, 1);
    std::atomic<bool> start(false);
    const int kThreads = 4;
    FrameThread workers[kThreads];
    std::thread threads[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        workers[i].start = &start;
        workers[i].movie = &movie;
        threads[i] = std::thread(&FrameThread::Run, &workers[i]);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let every thread reach the start line
    start = true;
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(workers[i].encrypted, static_cast<int>(movie.size()));
        EXPECT_EQ(workers[i].decrypted, static_cast<int>(movie.size()));
        EXPECT_TRUE(workers[i].frame == workers[0].frame) << "thread " << i;
        EXPECT_TRUE(workers[i].plain == movie) << "thread " << i;
    }
}

// FIPS-197 Appendix C, and the ECB examples of NIST SP 800-38A (F.1).
TEST(Aes, PublishedExamples) {
    struct Case {
        const char *key, *plain, *cipher;
    } cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
         "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617",
         "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
        {"2b7e151628aed2a6abf7158809cf4f3c",
         "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
         "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
         "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
         "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4"},
        {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
         "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
         "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
         "bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eef"
         "ef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6c72fb16691603c18e0e"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
         "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
         "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
         "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7"},
    };
    for (const Case& c : cases) {
        const Bytes key = FromHex(c.key), plain = FromHex(c.plain), cipher = FromHex(c.cipher);
        CAesCipher aes;
        ASSERT_TRUE(aes.SetKey(key.data(), key.size()));
        EXPECT_EQ(aes.Rounds(), static_cast<int>(key.size() / 4 + 6));
        Bytes encrypted(plain.size()), decrypted(plain.size());
        for (size_t at = 0; at < plain.size(); at += 16) {
            aes.EncryptBlock(plain.data() + at, encrypted.data() + at);
            aes.DecryptBlock(cipher.data() + at, decrypted.data() + at);
        }
        EXPECT_EQ(encrypted, cipher) << "key " << c.key;
        EXPECT_EQ(decrypted, plain) << "key " << c.key;
        // In place.
        Bytes block(cipher.begin(), cipher.begin() + 16);
        aes.DecryptBlock(block.data(), block.data());
        EXPECT_TRUE(std::equal(block.begin(), block.end(), plain.begin()));
    }
    CAesCipher aes;
    const Bytes key(40, 1);
    for (size_t length : {0, 1, 15, 17, 23, 25, 31, 33, 40}) {
        EXPECT_FALSE(aes.SetKey(key.data(), length)) << length;
        EXPECT_FALSE(aes.HasKey());
    }
    EXPECT_FALSE(aes.SetKey(nullptr, 16));
}

TEST(CacheScrambling, FirstWholeWordsAreXoredWithTheCacheTable) {
    uint8_t table[16];
    for (int i = 0; i < 16; ++i) table[i] = static_cast<uint8_t>(kCacheKeyTable[i / 4] >> (8 * (i % 4)));
    struct Case {
        size_t bufferBytes, scrambled, words;
    } cases[] = {
        {3, 3, 0},
        {10, 10, 2},  // the first 8 bytes change, the last 2 stay
        {16, 16, 4},
        {70, 70, 17},
        {1000, 256, 64},  // a cached file: only the first 256 bytes
        {0, 0, 0},
    };
    for (const Case& c : cases) {
        const Bytes original = Pattern(c.bufferBytes, 7);
        Bytes bytes = original;
        EXPECT_EQ(ScrambleWords(bytes.data(), c.scrambled), c.words);
        for (size_t i = 0; i < bytes.size(); ++i) {
            uint8_t expected = i < 4 * c.words ? uint8_t(original[i] ^ table[i % 16]) : original[i];
            ASSERT_EQ(bytes[i], expected) << c.bufferBytes << " bytes, at " << i;
        }
        EXPECT_EQ(ScrambleWords(bytes.data(), c.scrambled), c.words);
        EXPECT_EQ(bytes, original);
    }
    EXPECT_EQ(ScrambleWords(nullptr, 16), 0u);
}

TEST(KeyTables, AreDistinctAndNotTrivial) {
    EXPECT_NE(memcmp(kCacheKeyTable, kFrameKeyTable, 16), 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(kCacheKeyTable[i], 0u);
        EXPECT_NE(kFrameKeyTable[i], 0u);
    }
}

// What DecryptGameFrame must give: the block decryption of every complete block, the
// tail as it is, then every whole word XORed with the frame key table.
Bytes ExpectedPlain(const Bytes& frame, const char* key) {
    CAesCipher aes;
    EXPECT_TRUE(aes.SetKey(reinterpret_cast<const uint8_t*>(key), strlen(key)));
    Bytes plain = frame;
    for (size_t at = 0; at + 16 <= plain.size(); at += 16) aes.DecryptBlock(&frame[at], &plain[at]);
    for (size_t i = 0; i + 4 <= plain.size(); ++i)
        if (i % 4 == 0)
            for (int b = 0; b < 4; ++b)
                plain[i + b] ^= static_cast<uint8_t>(kFrameKeyTable[(i / 4) % 4] >> (8 * b));
    return plain;
}

TEST(GameFrame, DecryptionOfBlocksTailAndWords) {
    for (const char* key : kKeys) {
        for (size_t length : {0, 3, 4, 15, 16, 20, 35, 48}) {
            const Bytes frame = Pattern(length, 3);
            Bytes plain(length + 8, 0xEE);
            ASSERT_EQ(DecryptGameFrame(At(frame), static_cast<int>(length), key, plain.data()),
                      static_cast<int>(length));
            const Bytes expected = ExpectedPlain(frame, key);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), plain.begin()))
                << strlen(key) << "-byte key, length " << length;
            for (size_t i = length; i < plain.size(); ++i) ASSERT_EQ(plain[i], 0xEE) << "past the end";
        }
    }
    // Length 3: nothing to decrypt or XOR, the bytes are copied.
    const uint8_t three[3] = {1, 2, 3};
    uint8_t out[3] = {};
    EXPECT_EQ(DecryptGameFrame(three, 3, kKeys[0], out), 3);
    EXPECT_EQ(memcmp(out, three, 3), 0);
    // In place.
    const Bytes movie = Pattern(1234, 9);
    Bytes buffer(movie.size());
    EncryptGameFrame(movie.data(), static_cast<int>(movie.size()), kKeys[1], buffer.data());
    EXPECT_EQ(DecryptGameFrame(buffer.data(), static_cast<int>(buffer.size()), kKeys[1], buffer.data()),
              static_cast<int>(movie.size()));
    EXPECT_EQ(buffer, movie);
}

TEST(GameFrame, RefusalsLeaveTheOutputUntouched) {
    const Bytes frame = Pattern(64, 5);
    struct Case {
        const char* what;
        const void* input;
        int length;
        const char* key;
        bool output;
    } cases[] = {
        {"no input", nullptr, 64, kKeys[0], true},
        {"no key", frame.data(), 64, nullptr, true},
        {"no output", frame.data(), 64, kKeys[0], false},
        {"empty key", frame.data(), 64, "", true},
        {"15-byte key", frame.data(), 64, "Kp7Vw2QmX9tLr4B", true},
        {"17-byte key", frame.data(), 64, "Kp7Vw2QmX9tLr4Bzz", true},
        {"33-byte key", frame.data(), 64, "Kp7Vw2QmX9tLr4BzQ8sD3fGhJ6kL1zX5Q", true},
        {"negative length", frame.data(), -16, kKeys[0], true},
    };
    for (const Case& c : cases) {
        Bytes out(64, 0xEE);
        EXPECT_EQ(DecryptGameFrame(c.input, c.length, c.key, c.output ? out.data() : nullptr), -1)
            << c.what;
        EXPECT_EQ(EncryptGameFrame(c.input, c.length, c.key, c.output ? out.data() : nullptr), -1)
            << c.what;
        EXPECT_EQ(out, Bytes(64, 0xEE)) << c.what;
    }
    uint8_t none = 0xEE;
    EXPECT_EQ(DecryptGameFrame(frame.data(), 0, kKeys[0], &none), 0);
    EXPECT_EQ(none, 0xEE);
}

TEST(GameFrame, DecryptionUndoesEncryption) {
    for (const char* key : kKeys) {
        for (int length = 0; length <= 70; ++length) {
            const Bytes movie = Pattern(static_cast<size_t>(length), static_cast<uint32_t>(length));
            Bytes frame(movie.size()), back(movie.size());
            ASSERT_EQ(EncryptGameFrame(At(movie), length, key, At(frame)), length);
            if (length >= 4) {
                EXPECT_NE(frame, movie) << "length " << length;
            }
            ASSERT_EQ(DecryptGameFrame(At(frame), length, key, At(back)), length);
            EXPECT_EQ(back, movie) << strlen(key) << "-byte key, length " << length;
        }
    }
    // A wrong key gives garbage of the same length, not an error.
    const Bytes movie = Pattern(64, 11);
    Bytes frame(64), back(64);
    EncryptGameFrame(movie.data(), 64, kKeys[0], frame.data());
    EXPECT_EQ(DecryptGameFrame(frame.data(), 64, "Kp7Vw2QmX9tLr4Bx", back.data()), 64);
    EXPECT_NE(back, movie);
}

TEST(GameFrame, FiveMegabyteMovie) {
    const size_t kSize = 5 * 1024 * 1024 + 13;
    const Bytes movie = Pattern(kSize, 42);
    Bytes frame(kSize), back(kSize);
    for (const char* key : kKeys) {
        ASSERT_EQ(EncryptGameFrame(movie.data(), static_cast<int>(kSize), key, frame.data()),
                  static_cast<int>(kSize));
        auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(DecryptGameFrame(frame.data(), static_cast<int>(kSize), key, back.data()),
                  static_cast<int>(kSize));
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        printf("decrypting %zu bytes with a %zu-byte key: %.1f ms\n", kSize, strlen(key), ms);
        EXPECT_TRUE(back == movie) << strlen(key) << "-byte key";
    }
}

}  // namespace
