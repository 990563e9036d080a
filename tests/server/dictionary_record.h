// One record of a dictionary file, as the content publisher writes it.
#pragma once

#include <stdint.h>

#include <string>

inline std::string DictionaryRecord(const std::string& name, uint32_t value) {
    std::string bytes(1, static_cast<char>(name.size()));
    bytes += name;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}
