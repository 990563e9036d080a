// Version numbers as the version file writes them, and their order.
#include <gtest/gtest.h>
#include <stdint.h>

#include <string>

#include "update/version_number.h"

namespace {

TEST(VersionNumbers, ReadLikeStrtokAndAtoi) {
    struct Case {
        std::string text;
        int32_t major, minor;
    } cases[] = {
        {"1.11", 1, 11},
        {"1.11.5", 1, 11},
        {"2", 2, 0},
        {"", 0, 0},
        {"1.12\r\n", 1, 12},
        {" 3. 4", 3, 4},
        {"..7..8", 7, 8},
        {"v1.2", 0, 2},
        {"-1.5", -1, 5},
        {"99999999999.1", INT32_MAX, 1},
        {std::string("1.2\0" "9.9", 7), 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        VersionNumber version = ParseVersion(c.text.data(), c.text.size());
        EXPECT_EQ(version.major, c.major);
        EXPECT_EQ(version.minor, c.minor);
    }
    // Only the given length is read: the body of an answer carries no terminator.
    VersionNumber cut = ParseVersion("1.12345", 3);
    EXPECT_EQ(cut.minor, 1);
    EXPECT_EQ(ParseVersion(nullptr, 4).major, 0);
}

TEST(VersionNumbers, NewerByMajorThenMinor) {
    struct Case {
        VersionNumber published, local;
        bool newer;
    } cases[] = {
        {{1, 12}, {1, 11}, true},  {{1, 11}, {1, 11}, false}, {{1, 9}, {1, 11}, false},
        {{2, 0}, {1, 11}, true},   {{1, 11}, {1, 2}, true},   {{0, 1}, {0, 0}, true},
        {{0, 0}, {0, 0}, false},   {{1, 99}, {2, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.published.major) + "." + std::to_string(c.published.minor));
        EXPECT_EQ(IsNewerVersion(c.published, c.local), c.newer);
    }
}

}  // namespace
