// The game movie's requests to the launcher, read from their UTF-8 XML text. Portable
// byte-level code: no Windows headers; the conversion from UTF-16 is the caller's.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

enum : uint32_t {
    kMaxCommandArguments = 8,  // the command number and up to seven arguments
};

// The JsCallClient string arguments of a request (UTF-8, at most kMaxCommandArguments,
// empty `string` elements skipped). False when the text is not XML, nests deeper than
// kXmlNestingLimit, or is not an invoke of "JsCallClient"; an invoke without arguments
// gives true and no arguments.
bool ParseClientRequestText(const char* text, std::vector<std::string>* arguments);
