#include "update/game_page.h"

#include <string.h>

#include "ravlib/xml_nesting.h"
#include "tinyxml.h"

namespace {

// The text of a child element of `parent`, or null when it is missing.
const char* ChildText(const TiXmlElement* parent, const char* name) {
    const TiXmlElement* child = parent->FirstChildElement(name);
    if (!child) return nullptr;
    const char* text = child->GetText();
    return text ? text : "";
}

}  // namespace

GamePageVerdict ParseGamePage(const uint8_t* body, size_t length, GamePage* page) {
    // The parser reads a terminated text: the nesting check sees exactly that text, so
    // that a UTF-8 sequence cut by a zero byte never lets the parser read on behind it.
    const std::string text(reinterpret_cast<const char*>(body), strnlen(reinterpret_cast<const char*>(body), length));
    if (!XmlNestingWithin(text.data(), text.size(), kXmlNestingLimit)) return kGamePageParamError;
    TiXmlDocument document;
    document.Parse(text.c_str());
    const TiXmlElement* root = document.Error() ? nullptr : document.FirstChildElement("root");
    if (!root) return kGamePageUnreadable;
    const char* flashVars = ChildText(root, "flashVars");
    const char* cdnUrl = ChildText(root, "cdnUrl");
    const char* asynUrl = ChildText(root, "asynUrl");
    if (!flashVars || !cdnUrl || !asynUrl) return kGamePageParamError;
    page->flashVars = flashVars;
    page->cdnUrl = cdnUrl;
    page->asynUrl = asynUrl;
    return kGamePageRead;
}
