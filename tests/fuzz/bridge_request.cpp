// The game movie's requests. The input is a request's UTF-8 text, cut to what the bridge
// takes at most. Beyond surviving any input: no more than kMaxCommandArguments arguments,
// and the arguments of a request written again from them, escaped, read back the same
// (for arguments that are whole UTF-8 text). An empty argument is written as an empty
// CDATA section: an element with no content at all is no argument to the bridge.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "game/bridge_request.h"
#include "xml_text.h"

namespace {

// The longest UTF-8 text the bridge converts a request of at most 1023 OEM bytes into.
const size_t kMaxText = 4 * 1023;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size < kMaxText ? size : kMaxText);
    std::vector<std::string> arguments;
    if (!ParseClientRequestText(text.c_str(), &arguments)) return 0;
    Check(arguments.size() <= kMaxCommandArguments);

    std::string again = "<invoke name=\"JsCallClient\"><arguments>";
    for (const std::string& argument : arguments) {
        if (!WritableAgain(argument)) return 0;
        again += argument.empty() ? "<string><![CDATA[]]></string>" : "<string>" + Escaped(argument) + "</string>";
    }
    again += "</arguments></invoke>";
    std::vector<std::string> back;
    Check(ParseClientRequestText(again.c_str(), &back));
    Check(back == arguments);
    return 0;
}
