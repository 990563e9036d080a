// The hash key text: the game frame's and the dictionary's check values.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

#include "update/hash_key.h"

namespace {

TEST(HashKey, TwoNumbersSeparatedBySpaces) {
    struct Case {
        std::string text;
        bool ok;
        int64_t frame, dictionary;
    } cases[] = {
        {"123 456", true, 123, 456},
        {"4294967295   17", true, 4294967295LL, 17},
        {"12 -5", true, 12, 0},
        {"-12 5", true, -12, 5},
        {"+12 5", true, 12, 5},
        {" 12 5", true, 0, 12},
        {"12 x", true, 12, 0},
        {"12 34\r\n", true, 12, 34},
        {"77", false, 0, 0},
        {"77   ", false, 0, 0},
        {"", false, 0, 0},
        {std::string("5 \0" "9", 4), false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int64_t frame = -1, dictionary = -1;
        bool ok = ParseHashKey(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size(), &frame, &dictionary);
        EXPECT_EQ(c.ok, ok);
        if (!ok) continue;
        EXPECT_EQ(c.frame, frame);
        EXPECT_EQ(c.dictionary, dictionary);
    }
    // A frame value above 2^31 matches a check value with the top bit set by its low 32 bits.
    int64_t frame = 0, dictionary = 0;
    std::string text = "3000000000 1";
    ASSERT_TRUE(ParseHashKey(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &frame, &dictionary));
    EXPECT_EQ(3000000000u, static_cast<uint32_t>(frame));
}

}  // namespace
