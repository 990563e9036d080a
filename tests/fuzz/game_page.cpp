// The game page. The input is the page's body as the server answers it. Beyond surviving
// any input (a page nested however deeply never reaches the parser): a page that reads
// gives parameters that, written into a page again, read back the same (for parameters
// that are whole UTF-8 text), and cutting the body at its first zero byte changes
// nothing once the page has read.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_check.h"
#include "update/game_page.h"
#include "xml_text.h"

namespace {

GamePageVerdict Parse(const std::string& text, GamePage* page) {
    return ParseGamePage(reinterpret_cast<const uint8_t*>(text.data()), text.size(), page);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    GamePage page;
    if (ParseGamePage(data, size, &page) != kGamePageRead) return 0;

    const size_t zero = strnlen(reinterpret_cast<const char*>(data), size);
    GamePage cut;
    Check(Parse(std::string(reinterpret_cast<const char*>(data), zero), &cut) == kGamePageRead);
    Check(cut.flashVars == page.flashVars && cut.cdnUrl == page.cdnUrl && cut.asynUrl == page.asynUrl);

    if (!WritableAgain(page.flashVars) || !WritableAgain(page.cdnUrl) || !WritableAgain(page.asynUrl)) return 0;
    const std::string again = "<?xml version=\"1.0\"?><root><asynUrl>" + Escaped(page.asynUrl) + "</asynUrl><cdnUrl>" +
                              Escaped(page.cdnUrl) + "</cdnUrl><flashVars>" + Escaped(page.flashVars) +
                              "</flashVars></root>";
    GamePage back;
    Check(Parse(again, &back) == kGamePageRead);
    Check(back.flashVars == page.flashVars && back.cdnUrl == page.cdnUrl && back.asynUrl == page.asynUrl);
    return 0;
}
