#include "server/dictionary_file.h"

#include <windows.h>

#include <new>
#include <vector>

#include "ravlib/log.h"
#include "ravlib/stream.h"
#include "ravlib/tick.h"
#include "server/file_dictionary.h"

using ravlib::stream::CFileStream;

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
        ravlib::LogMessage(ravlib::kLogError, L"dictionary: no memory for its %u bytes", static_cast<unsigned>(size));
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
    DictionaryReadEnd end;
    FileDictionaryAddRecords(bytes.data(), filled, &end);
    if (end.reason == kDictionaryOutOfMemory) {
        ravlib::LogMessage(ravlib::kLogError, L"dictionary: no memory for the names from %u on, none loaded",
                           static_cast<unsigned>(end.offset));
        return false;
    }
    if (end.reason == kDictionaryBadNameLength)
        ravlib::LogMessage(ravlib::kLogError, L"dictionary: bad name length at %u", static_cast<unsigned>(end.offset));
    else if (end.reason == kDictionaryRecordCutShort)
        ravlib::LogMessage(ravlib::kLogError, L"dictionary: last record cut short at %u",
                           static_cast<unsigned>(end.offset));
    ravlib::LogMessage(ravlib::kLogError, L"%d ms", static_cast<int>(ravlib::GetTickMs() - start));
    return true;
}
