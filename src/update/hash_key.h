// The hash key file the content server publishes: the game frame's check value, spaces,
// the dictionary's check value, as decimal text.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The two check values of the hash key text: the game frame's first (a signed decimal
// number before the first space, read as _atoi64 reads it), then the dictionary's (the
// digits after the spaces). False when the text holds no space or nothing follows its
// spaces.
bool ParseHashKey(const uint8_t* text, size_t length, int64_t* frameValue, int64_t* dictionaryValue);
