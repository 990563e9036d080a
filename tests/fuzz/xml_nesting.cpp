// The XML nesting check, against TinyXML itself. The input is a text (up to its first NUL,
// as the parsers read it). Beyond surviving any input: a larger limit never refuses what
// a smaller one takes, and whenever the check lets a text through with a limit, TinyXML,
// if it parses the text at all, finds no element deeper than that limit.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include <tinyxml.h>

#include "fuzz_check.h"
#include "ravlib/xml_nesting.h"

namespace {

// The deepest element of the document, the root counting 1; walked without recursion.
uint32_t ElementDepth(const TiXmlDocument& document) {
    uint32_t deepest = 0;
    std::vector<std::pair<const TiXmlNode*, uint32_t>> pending;
    for (const TiXmlNode* child = document.FirstChild(); child; child = child->NextSibling())
        pending.emplace_back(child, 1);
    while (!pending.empty()) {
        const std::pair<const TiXmlNode*, uint32_t> at = pending.back();
        pending.pop_back();
        if (!at.first->ToElement()) continue;
        if (at.second > deepest) deepest = at.second;
        for (const TiXmlNode* child = at.first->FirstChild(); child; child = child->NextSibling())
            pending.emplace_back(child, at.second + 1);
    }
    return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    const uint32_t kLimits[] = {1, 2, 4, 8, kXmlNestingLimit};
    uint32_t tightest = 0;  // the smallest limit the check takes; 0 for none
    bool taken = false;
    for (uint32_t limit : kLimits) {
        const bool within = XmlNestingWithin(text.data(), text.size(), limit);
        Check(!taken || within);
        if (within && !taken) tightest = limit;
        taken = taken || within;
    }
    if (!taken) return 0;
    for (TiXmlEncoding encoding : {TIXML_ENCODING_UNKNOWN, TIXML_ENCODING_UTF8}) {
        TiXmlDocument document;
        document.Parse(text.c_str(), nullptr, encoding);
        if (!document.Error()) Check(ElementDepth(document) <= tightest);
    }
    return 0;
}
