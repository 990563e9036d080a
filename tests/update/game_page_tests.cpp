// The game page read into its start parameters.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

#include "update/game_page.h"

namespace {

std::string Nested(int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += "<a>";
    for (int i = 0; i < levels; ++i) text += "</a>";
    return text;
}

TEST(GamePage, ParametersAreReadAndAnythingElseIsARetryOrAParamError) {
    const std::string kParameters =
        "<flashVars>user=7&amp;zone=3</flashVars><cdnUrl>http://cdn.test/</cdnUrl><asynUrl>http://a.test/n</asynUrl>";
    const struct {
        const char* what;
        std::string text;
        GamePageVerdict verdict;
        const char* cdnUrl;
    } cases[] = {
        {"the whole page", "<?xml version=\"1.0\" encoding=\"utf-8\"?><root>" + kParameters + "</root>", kGamePageRead,
         "http://cdn.test/"},
        {"an empty parameter",
         "<root><flashVars/><cdnUrl></cdnUrl><asynUrl>x</asynUrl></root>", kGamePageRead, ""},
        {"other elements around", "<root><x>1</x>" + kParameters + "<y/></root>", kGamePageRead, "http://cdn.test/"},
        {"text after a zero byte", "<root>" + kParameters + "</root>" + std::string(1, '\0') + "<", kGamePageRead,
         "http://cdn.test/"},
        {"the deepest nesting allowed", "<root>" + kParameters + Nested(63) + "</root>", kGamePageRead,
         "http://cdn.test/"},
        {"a UTF-8 sequence cut by a zero byte",
         "<root><flashVars>v</flashVars><cdnUrl>http://_\xF0" + std::string(1, '\0') +
             "\x01\xBC</cdnUrl><asynUrl>a</asynUrl></root>",
         kGamePageParamError, ""},
        {"asynUrl missing", "<root><flashVars>v</flashVars><cdnUrl>c</cdnUrl></root>", kGamePageParamError, ""},
        {"nested one level too deep", "<root>" + kParameters + Nested(64) + "</root>", kGamePageParamError, ""},
        {"nested 100 000 deep", "<root>" + Nested(100000) + "</root>", kGamePageParamError, ""},
        {"no XML", "Service Unavailable", kGamePageUnreadable, ""},
        {"another root element", "<page>" + kParameters + "</page>", kGamePageUnreadable, ""},
        {"an element left open", "<root>" + kParameters, kGamePageUnreadable, ""},
        {"nothing", "", kGamePageUnreadable, ""},
    };
    for (const auto& c : cases) {
        GamePage page;
        page.cdnUrl = "unset";
        const GamePageVerdict verdict =
            ParseGamePage(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size(), &page);
        EXPECT_EQ(verdict, c.verdict) << c.what;
        if (verdict == kGamePageRead) EXPECT_EQ(page.cdnUrl, c.cdnUrl) << c.what;
        else EXPECT_EQ(page.cdnUrl, "unset") << c.what;
    }
    GamePage page;
    const std::string text = "<root>" + kParameters + "</root>";
    ASSERT_EQ(ParseGamePage(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &page), kGamePageRead);
    EXPECT_EQ(page.flashVars, "user=7&zone=3");
    EXPECT_EQ(page.asynUrl, "http://a.test/n");
}

}  // namespace
