#include "server/file_dictionary.h"

#include <functional>
#include <map>
#include <new>
#include <string>

namespace {

// std::string compares with memcmp, so the names are ordered as unsigned bytes. The
// transparent comparison looks a name up as it comes, without making a string of it: a
// lookup on the data thread never allocates.
typedef std::map<std::string, uint32_t, std::less<>> Dictionary;
Dictionary* g_dictionary = nullptr;

Dictionary& TheDictionary() {
    if (!g_dictionary) g_dictionary = new Dictionary;
    return *g_dictionary;
}

uint32_t LoadLittleEndian(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

size_t FileDictionaryAddRecords(const uint8_t* data, size_t length, DictionaryReadEnd* end) {
    DictionaryReadEnd ignored;
    if (!end) end = &ignored;
    *end = {kDictionaryReadComplete, length};
    if (!data) return 0;
    size_t records = 0;
    size_t offset = 0;
    // The names are gathered apart and join the dictionary only once all of them are in
    // memory: a load that runs out of it leaves the dictionary as it was.
    Dictionary added;
    Dictionary* dictionary = nullptr;
    try {
        while (offset < length) {
            // The length byte is signed in the file format: 0x80..0xFF read as negative
            // lengths. Such a record cannot be told apart from garbage, so it ends the read.
            const int8_t declared = static_cast<int8_t>(data[offset]);
            if (declared < 0) {
                *end = {kDictionaryBadNameLength, offset};
                break;
            }
            const size_t nameLength = static_cast<size_t>(declared);
            if (length - offset < 1 + nameLength + 4) {
                *end = {kDictionaryRecordCutShort, offset};
                break;
            }
            const char* name = reinterpret_cast<const char*>(data + offset + 1);
            const uint32_t value = LoadLittleEndian(data + offset + 1 + nameLength);
            added.emplace(std::string(name, nameLength), value);
            ++records;
            offset += 1 + nameLength + 4;
        }
        dictionary = &TheDictionary();
    } catch (const std::bad_alloc&) {
        *end = {kDictionaryOutOfMemory, offset};
        return 0;
    }
    // Moves the nodes of the names not listed yet: the earlier record of a name wins, and
    // nothing is allocated.
    dictionary->merge(added);
    return records;
}

uint32_t FileDictionaryLookup(const char* name) {
    if (!name || !g_dictionary) return 0;
    Dictionary::const_iterator found = g_dictionary->find(name);
    return found == g_dictionary->end() ? 0 : found->second;
}

bool FileDictionaryContains(const char* name) {
    return name && g_dictionary && g_dictionary->count(name) != 0;
}

size_t FileDictionarySize() {
    return g_dictionary ? g_dictionary->size() : 0;
}

void FileDictionaryClear() {
    delete g_dictionary;
    g_dictionary = nullptr;
}
