#include "file_service_test_support.h"

#include <zlib.h>

#include "net_test_support.h"
#include "server/file_dictionary.h"
#include "server/scramble.h"
#include "support/test_support.h"

namespace filetest {

std::wstring CachePath(const std::wstring& cacheDir, const std::string& name) {
    std::wstring path = cacheDir + WideFromUtf8(name);
    for (wchar_t& ch : path)
        if (ch == L'/') ch = L'\\';
    return path;
}

void List(const std::string& name, uint32_t value) {
    const std::string record = std::string(1, static_cast<char>(name.size())) + name + nettest::U32(value);
    FileDictionaryAddRecords(reinterpret_cast<const uint8_t*>(record.data()), record.size());
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(nettest::PatternByte(i));
    return bytes;
}

uint32_t Crc(const std::string& content) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
}

bool WriteCached(const std::wstring& path, std::string content) {
    ScrambleWords(&content[0], content.size() < 256 ? content.size() : 256);
    return testing_support::WriteFileBytes(path, content.data(), content.size());
}

}  // namespace filetest
