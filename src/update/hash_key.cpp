#include "update/hash_key.h"

#include <string.h>

namespace {

// Reads a signed decimal number the way _atoi64 does, but never beyond `end`.
int64_t ReadDecimal(const uint8_t* text, const uint8_t* end) {
    while (text < end && (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n')) ++text;
    bool negative = false;
    if (text < end && (*text == '+' || *text == '-')) negative = *text++ == '-';
    uint64_t value = 0;
    for (; text < end && *text >= '0' && *text <= '9'; ++text) value = value * 10 + (*text - '0');
    return static_cast<int64_t>(negative ? 0 - value : value);
}

}  // namespace

bool ParseHashKey(const uint8_t* text, size_t length, int64_t* frameValue, int64_t* dictionaryValue) {
    if (!text) return false;
    const uint8_t* end = text + length;
    const uint8_t* space = static_cast<const uint8_t*>(memchr(text, ' ', length));
    if (!space) return false;
    const uint8_t* rest = space;
    while (rest < end && *rest == ' ') ++rest;
    if (rest == end || *rest == '\0') return false;
    *frameValue = ReadDecimal(text, space);
    uint64_t digits = 0;
    for (; rest < end && *rest >= '0' && *rest <= '9'; ++rest) digits = digits * 10 + (*rest - '0');
    *dictionaryValue = static_cast<int64_t>(digits);
    return true;
}
