// How deeply the elements of an XML text nest, found without parsing it, so that a
// recursive parser is never handed a text that would take it deeper than a limit.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The deepest nesting the launcher's documents may have: the root element counts 1.
constexpr uint32_t kXmlNestingLimit = 64;

// True when no element of `text` (`length` bytes) lies more than `limit` elements deep.
// Markup is read the way TinyXML reads it: comments end at "-->", CDATA sections at
// "]]>", other "<!" and "<?" constructs at the first '>', and quoted attribute values
// may hold '<' and '>'. Unterminated constructs are left for the parser to refuse; a text
// that ends inside a UTF-8 sequence is refused, as TinyXML would read past its end.
bool XmlNestingWithin(const char* text, size_t length, uint32_t limit);
