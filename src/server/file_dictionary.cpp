#include "server/file_dictionary.h"

#include <windows.h>

#include <map>
#include <new>
#include <string>
#include <vector>

#include "ravlib/log.h"
#include "ravlib/stream.h"
#include "ravlib/tick.h"

using ravlib::stream::CFileStream;

namespace {

// std::string compares with memcmp, so the names are ordered as unsigned bytes.
typedef std::map<std::string, uint32_t> Dictionary;
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

size_t FileDictionaryAddRecords(const uint8_t* data, size_t length) {
    if (!data) return 0;
    Dictionary& dictionary = TheDictionary();
    size_t records = 0;
    size_t offset = 0;
    while (offset < length) {
        // The length byte is signed in the file format: 0x80..0xFF read as negative
        // lengths. Such a record cannot be told apart from garbage, so it ends the read.
        const int8_t declared = static_cast<int8_t>(data[offset]);
        if (declared < 0) {
            ravlib::LogMessage(ravlib::kLogError, L"dictionary: bad name length at %u",
                               static_cast<unsigned>(offset));
            break;
        }
        const size_t nameLength = static_cast<size_t>(declared);
        if (length - offset < 1 + nameLength + 4) {
            ravlib::LogMessage(ravlib::kLogError, L"dictionary: last record cut short at %u",
                               static_cast<unsigned>(offset));
            break;
        }
        const char* name = reinterpret_cast<const char*>(data + offset + 1);
        const uint32_t value = LoadLittleEndian(data + offset + 1 + nameLength);
        dictionary.emplace(std::string(name, nameLength), value);
        ++records;
        offset += 1 + nameLength + 4;
    }
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

bool FileSrvLoadDictionary(const wchar_t* path) {
    if (!path || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return false;
    CFileStream file(path, ravlib::stream::kStreamModeOpen);
    const int64_t size = file.GetSize();
    if (!file.IsOpen() || size < 0 || static_cast<uint64_t>(size) > UINT32_MAX) return false;
    const uint64_t start = ravlib::GetTickMs();
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t filled = 0;
    while (filled < bytes.size()) {
        const int64_t got = file.Read(bytes.data() + filled, static_cast<int64_t>(bytes.size() - filled));
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    if (filled < bytes.size()) {
        ravlib::LogMessage(ravlib::kLogError, L"dictionary: read %u of %u bytes",
                           static_cast<unsigned>(filled), static_cast<unsigned>(bytes.size()));
        return false;
    }
    FileDictionaryAddRecords(bytes.data(), filled);
    ravlib::LogMessage(ravlib::kLogError, L"%d ms", static_cast<int>(ravlib::GetTickMs() - start));
    return true;
}
