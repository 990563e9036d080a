// Text written into an XML element for TinyXML to read back: what the fuzz targets of
// the XML readers use to write a document again from what they read.
#pragma once

#include <stddef.h>

#include <string>

inline std::string Escaped(const std::string& value) {
    std::string out;
    for (char c : value) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

// Whether value is text the round trip can write again: whole UTF-8 sequences (as the
// nesting check reads them), no control bytes, and blanks as TinyXML leaves them in
// ordinary text (a CDATA section keeps others: none at either end, never two together).
inline bool WritableAgain(const std::string& value) {
    if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) return false;
    if (value.find("  ") != std::string::npos) return false;
    for (size_t i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c < 0x20) return false;
        if (c < 0x80) continue;
        if (c < 0xC2 || c > 0xF4) return false;
        const size_t trail = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
        if (value.size() - i - 1 < trail) return false;
        for (size_t k = 1; k <= trail; ++k)
            if ((static_cast<unsigned char>(value[i + k]) & 0xC0) != 0x80) return false;
        i += trail;
    }
    return true;
}
