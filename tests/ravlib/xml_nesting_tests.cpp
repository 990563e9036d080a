// The nesting check at its limit: elements, empty ones included, count one level each;
// markup that only looks like elements counts nothing; a text TinyXML would read past the
// end of is refused.
#include <gtest/gtest.h>

#include <string>

#include "ravlib/xml_nesting.h"

namespace {

std::string Nested(int depth, const std::string& inner) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<e>";
    text += inner;
    for (int i = 0; i < depth; ++i) text += "</e>";
    return text;
}

TEST(XmlNesting, ElementsDeeperThanTheLimitAreRefused) {
    struct Case {
        const char* what;
        std::string text;
        bool within;  // with a limit of 3
    } cases[] = {
        {"three levels", Nested(3, ""), true},
        {"four levels", Nested(4, ""), false},
        {"an empty element on the third level", Nested(2, "<i/>"), true},
        {"an empty element on the fourth level", Nested(3, "<i a=\">\" b='<'/>"), false},
        {"an empty root", "<?xml version=\"1.0\"?><r/>", true},
        {"comments, CDATA and attribute values", Nested(3, "<!--<a><b>--><![CDATA[<c><d>]]>"), true},
        {"siblings", Nested(2, "<i></i><i/><i></i>"), true},
        {"a whole UTF-8 sequence", "<r>\xE4\xBD\xA0</r>", true},
        {"a UTF-8 sequence the end cuts short", "<r>\xE4\xBD", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(XmlNestingWithin(c.text.data(), c.text.size(), 3), c.within);
    }
}

}  // namespace
