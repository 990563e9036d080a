// A scan that finds where TinyXML would see elements begin and end. It is exact only for
// ordinary documents; wherever TinyXML could read a construct's end differently (a
// character or entity reference that would swallow a delimiter, a quote where TinyXML
// keeps none, markup TinyXML would refuse) the text is refused, which is always safe.
#include "ravlib/xml_nesting.h"

#include <string.h>

namespace {

bool IsSpace(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsDelimiter(uint8_t c) { return c == '<' || c == '>' || c == '"' || c == '\''; }

// TinyXML starts an element at '<' followed by a letter, an underscore or a byte from
// 0x7F up.
bool StartsName(uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x7F;
}

bool StartsWith(const uint8_t* text, size_t length, size_t at, const char* prefix) {
    size_t n = strlen(prefix);
    return length - at >= n && memcmp(text + at, prefix, n) == 0;
}

bool StartsWithIgnoringCase(const uint8_t* text, size_t length, size_t at, const char* prefix) {
    size_t n = strlen(prefix);
    if (length - at < n) return false;
    for (size_t i = 0; i < n; i++) {
        uint8_t c = text[at + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c - 'A' + 'a');
        if (c != static_cast<uint8_t>(prefix[i])) return false;
    }
    return true;
}

// Position of the first `pattern` at or after `at`, or `length`.
size_t Find(const uint8_t* text, size_t length, size_t at, const char* pattern) {
    size_t n = strlen(pattern);
    for (; at < length && length - at >= n; at++)
        if (memcmp(text + at, pattern, n) == 0) return at;
    return length;
}

// TinyXML reads a UTF-8 sequence as a whole and a numeric reference up to its ';': true
// when either would carry it over a delimiter, so that it would end a construct elsewhere,
// or a sequence over the end of the text, whose terminator TinyXML would then read past.
bool SwallowsDelimiter(const uint8_t* text, size_t length) {
    for (size_t at = 0; at < length; at++) {
        uint8_t c = text[at];
        size_t end = at;
        if (c >= 0xC2 && c <= 0xF4) {
            end = at + (c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2);
            if (end > length) return true;
        } else if (c == '&' && length - at >= 2 && text[at + 1] == '#') {
            end = Find(text, length, at, ";");
            if (end == length) return true;
        }
        for (size_t i = at + 1; i < end; i++)
            if (IsDelimiter(text[i])) return true;
    }
    return false;
}

size_t SkipSpace(const uint8_t* text, size_t length, size_t at) {
    while (at < length && IsSpace(text[at])) at++;
    return at;
}

// Past `name = value` at `at`, the value quoted or not, as TinyXML reads an attribute;
// 0 where TinyXML would refuse it.
size_t SkipAttribute(const uint8_t* text, size_t length, size_t at) {
    while (at < length && !IsSpace(text[at]) && !IsDelimiter(text[at]) && text[at] != '=' &&
           text[at] != '/')
        at++;
    at = SkipSpace(text, length, at);
    if (at >= length || text[at] != '=') return 0;
    at = SkipSpace(text, length, at + 1);
    if (at >= length) return 0;
    uint8_t quote = text[at];
    if (quote == '"' || quote == '\'') {
        while (++at < length && text[at] != quote) {
        }
        return at < length ? at + 1 : 0;
    }
    for (; at < length && !IsSpace(text[at]) && text[at] != '/' && text[at] != '>'; at++)
        if (text[at] == '"' || text[at] == '\'') return 0;
    return at;
}

// Past the '>' of the start tag whose name begins at `at`; `empty` tells "/>". 0 where
// TinyXML would refuse the tag.
size_t SkipStartTag(const uint8_t* text, size_t length, size_t at, bool* empty) {
    while (at < length && !IsSpace(text[at]) && !IsDelimiter(text[at]) && text[at] != '/') at++;
    for (;;) {
        at = SkipSpace(text, length, at);
        if (at >= length) return 0;
        if (text[at] == '>') {
            *empty = false;
            return at + 1;
        }
        if (text[at] == '/') {
            *empty = true;
            return at + 1 < length && text[at + 1] == '>' ? at + 2 : 0;
        }
        at = SkipAttribute(text, length, at);
        if (at == 0) return 0;
    }
}

// Past the '>' of the declaration whose "<?xml" is at `at`: TinyXML reads the values of
// version, encoding and standalone as attributes and passes over anything else up to a
// blank or '>'. 0 where that reading is in doubt.
size_t SkipDeclaration(const uint8_t* text, size_t length, size_t at) {
    at += 5;
    for (;;) {
        at = SkipSpace(text, length, at);
        if (at >= length) return 0;
        if (text[at] == '>') return at + 1;
        if (StartsWithIgnoringCase(text, length, at, "version") ||
            StartsWithIgnoringCase(text, length, at, "encoding") ||
            StartsWithIgnoringCase(text, length, at, "standalone")) {
            at = SkipAttribute(text, length, at);
            if (at == 0) return 0;
            continue;
        }
        for (; at < length && !IsSpace(text[at]) && text[at] != '>'; at++)
            if (text[at] == '"' || text[at] == '\'') return 0;
    }
}

// Past the end of `pattern` found at or after `at`, or `length`.
size_t SkipPast(const uint8_t* text, size_t length, size_t at, const char* pattern) {
    size_t found = Find(text, length, at, pattern);
    return found < length ? found + strlen(pattern) : length;
}

}  // namespace

bool XmlNestingWithin(const char* chars, size_t length, uint32_t limit) {
    const uint8_t* text = reinterpret_cast<const uint8_t*>(chars);
    if (SwallowsDelimiter(text, length)) return false;
    uint32_t depth = 0;
    size_t at = 0;
    while (at < length) {
        const void* next = memchr(text + at, '<', length - at);
        if (!next) break;
        at = static_cast<size_t>(static_cast<const uint8_t*>(next) - text);
        if (StartsWith(text, length, at, "<!--")) {
            at = SkipPast(text, length, at + 4, "-->");
        } else if (StartsWith(text, length, at, "<![CDATA[")) {
            at = SkipPast(text, length, at + 9, "]]>");
        } else if (StartsWithIgnoringCase(text, length, at, "<?xml")) {
            at = SkipDeclaration(text, length, at);
            if (at == 0) return false;
        } else if (at + 1 < length && text[at + 1] == '/') {
            if (depth > 0) depth--;
            at = SkipPast(text, length, at + 2, ">");
        } else if (at + 1 < length && StartsName(text[at + 1])) {
            bool empty = false;
            at = SkipStartTag(text, length, at + 1, &empty);
            if (at == 0) return false;
            // An empty element lies one deeper too, though nothing nests inside it.
            if (depth == limit) return false;
            if (!empty) depth++;
        } else {
            // Other "<!" and "<?" markup and a lone '<': TinyXML keeps them up to the
            // first '>'.
            at = SkipPast(text, length, at + 1, ">");
        }
    }
    return true;
}
