// The resource dictionary's records. The input is a dictionary file. Beyond surviving
// any input: the read ends where it says, at a length byte of 0x80 or more or at a record
// the end cuts short; every complete record's name is found with the value of its first
// record; and reading the same bytes again changes nothing.
#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>

#include "fuzz_check.h"
#include "server/file_dictionary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FileDictionaryClear();
    DictionaryReadEnd end;
    const size_t records = FileDictionaryAddRecords(data, size, &end);
    Check(end.offset <= size);
    if (end.reason == kDictionaryReadComplete) Check(end.offset == size);
    if (end.reason == kDictionaryBadNameLength) Check(data[end.offset] >= 0x80);
    if (end.reason == kDictionaryRecordCutShort) Check(data[end.offset] < 0x80 && end.offset + 1 + data[end.offset] + 4 > size);

    std::map<std::string, uint32_t> first;
    size_t walked = 0;
    size_t offset = 0;
    while (offset < end.offset) {
        const size_t nameLength = data[offset];
        const std::string name(reinterpret_cast<const char*>(data + offset + 1), nameLength);
        const uint8_t* value = data + offset + 1 + nameLength;
        first.emplace(name, value[0] | value[1] << 8 | value[2] << 16 | static_cast<uint32_t>(value[3]) << 24);
        offset += 1 + nameLength + 4;
        ++walked;
    }
    Check(offset == end.offset && walked == records && FileDictionarySize() == first.size());
    for (const auto& entry : first) {
        if (entry.first.find('\0') != std::string::npos) continue;  // lookups take terminated names
        Check(FileDictionaryContains(entry.first.c_str()) && FileDictionaryLookup(entry.first.c_str()) == entry.second);
    }
    Check(FileDictionaryAddRecords(data, size, nullptr) == records && FileDictionarySize() == first.size());
    return 0;
}
