#include "game/bridge_request.h"

#include <string.h>

#include "ravlib/xml_nesting.h"
#include "tinyxml.h"

namespace {

const char kClientFunction[] = "JsCallClient";

}  // namespace

bool ParseClientRequestText(const char* text, std::vector<std::string>* arguments) {
    arguments->clear();
    if (text == nullptr) {
        return false;
    }
    if (!XmlNestingWithin(text, strlen(text), kXmlNestingLimit)) {
        return false;
    }
    TiXmlDocument document;
    document.Parse(text, nullptr, TIXML_ENCODING_UTF8);
    if (document.Error()) {
        return false;
    }
    const TiXmlElement* invoke = document.FirstChildElement("invoke");
    if (invoke == nullptr) {
        return false;
    }
    const char* name = invoke->Attribute("name");
    if (name == nullptr || strcmp(name, kClientFunction) != 0) {
        return false;
    }
    const TiXmlElement* list = invoke->FirstChildElement("arguments");
    if (list == nullptr) {
        return true;
    }
    for (const TiXmlElement* argument = list->FirstChildElement("string");
         argument != nullptr && arguments->size() < kMaxCommandArguments;
         argument = argument->NextSiblingElement("string")) {
        const TiXmlNode* content = argument->FirstChild();
        if (content != nullptr && content->ToText() != nullptr) {
            arguments->push_back(content->Value());
        }
    }
    return true;
}

