// The game movie's requests. The input is a request's UTF-8 text, cut to what the bridge
// takes at most. Beyond surviving any input: no more than kMaxCommandArguments arguments,
// and the arguments of a request written again from them, escaped, read back the same
// (for arguments that are whole UTF-8 text).
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "game/bridge_request.h"

namespace {

// The longest UTF-8 text the bridge converts a request of at most 1023 OEM bytes into.
const size_t kMaxText = 4 * 1023;

std::string Escaped(const std::string& value) {
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
bool WritableAgain(const std::string& value) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size < kMaxText ? size : kMaxText);
    std::vector<std::string> arguments;
    if (!ParseClientRequestText(text.c_str(), &arguments)) return 0;
    Check(arguments.size() <= kMaxCommandArguments);

    std::string again = "<invoke name=\"JsCallClient\"><arguments>";
    for (const std::string& argument : arguments) {
        if (!WritableAgain(argument)) return 0;
        again += "<string>" + Escaped(argument) + "</string>";
    }
    again += "</arguments></invoke>";
    std::vector<std::string> back;
    Check(ParseClientRequestText(again.c_str(), &back));
    Check(back == arguments);
    return 0;
}
