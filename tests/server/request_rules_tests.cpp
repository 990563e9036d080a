// The local server's text rules: directories, names and addresses a connection may ask for.
#include <gtest/gtest.h>

#include "server/request_rules.h"

namespace {

TEST(CacheNames, OnlyNamesThatStayInsideTheCache) {
    struct Case {
        const char* name;
        bool safe;
    } cases[] = {
        {"res/a.swf", true},
        {"a", true},
        {"res/..a/b..c/x.png", true},
        {"./a.swf", true},
        {"", false},
        {"../a.swf", false},
        {"res/../../a.swf", false},
        {"res/..", false},
        {"res/.. /a", false},
        {"res/... /a", false},
        {"/etc/a", false},
        {"\\a", false},
        {"res\\a.swf", false},
        {"C:/a.swf", false},
        {"c:a.swf", false},
        {"a.swf:stream", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsCacheSafeName(c.name), c.safe) << c.name;
}

}  // namespace
