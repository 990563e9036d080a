// Tests of the zip reader against archives written by Python's zipfile (see
// make_fixtures.py for what each fixture holds).
#include "zip/zip_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

using testing_support::FixturePath;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

typedef std::vector<uint8_t> Bytes;

// Item indexes of basic.zip.
enum {
    kConfigDir = 0,
    kConfigText = 1,
    kLogo = 2,
    kHiddenSys = 3,
    kUtModification = 4,
    kUtAll = 5,
    kUtShort = 6,
    kEmpty = 7,
    kUtf8Name = 8,
    kLongName = 9,
    kBasicCount = 10,
};

const char kUtf8Stored[] = u8"donn\u00e9es/\u00e9t\u00e9.txt";
const wchar_t kUtf8Wide[] = L"donn\u00e9es/\u00e9t\u00e9.txt";

std::wstring Fixture(const wchar_t* name) { return FixturePath(std::wstring(L"zip\\") + name); }

Bytes FixtureBytes(const wchar_t* name) {
    Bytes bytes = ReadFileBytes(Fixture(name));
    EXPECT_FALSE(bytes.empty()) << "missing fixture";
    return bytes;
}

std::wstring LongName() { return L"long/" + std::wstring(291, L'a') + L".txt"; }

struct Releaser {
    void operator()(ZipHandle* zip) const {
        if (zip) {
            EXPECT_EQ(ZR_OK, ReleaseZip(zip));
        }
    }
};
typedef std::unique_ptr<ZipHandle, Releaser> ZipPtr;

ZipPtr OpenMemory(const Bytes& bytes) {
    return ZipPtr(OpenZip(bytes.data(), static_cast<uint32_t>(bytes.size()), ZipFromMemory));
}

std::wstring Describe(uint32_t code) {
    wchar_t text[128];
    DescribeZipResult(code, text, 128);
    return text;
}

// Extracts into memory through repeated calls with `chunk`-byte buffers until the
// reader stops answering ZR_MORE; returns the final result. A sound item fills every
// buffer but the last, which holds the rest of its `size` bytes.
uint32_t ReadAll(ZipHandle* zip, int32_t index, uint32_t chunk, size_t size, Bytes* out) {
    out->clear();
    Bytes buffer(chunk);
    for (int call = 0; call < 1000; call++) {
        uint32_t result = ExtractZipItem(zip, index, buffer.data(), chunk, ZipFromMemory);
        if (result != ZR_MORE && result != ZR_OK) return result;
        size_t got = chunk;
        if (result == ZR_OK)
            got = size > out->size() ? std::min<size_t>(chunk, size - out->size()) : 0;
        out->insert(out->end(), buffer.begin(), buffer.begin() + got);
        if (result == ZR_OK) return ZR_OK;
    }
    return ZR_MORE;
}

FILETIME FileTimeOf(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME st = {};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    st.wSecond = second;
    FILETIME ft = {};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return ft;
}

uint64_t Ticks(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// Restores the process's current directory when it goes away.
class CurrentDirectory {
public:
    CurrentDirectory() { GetCurrentDirectoryW(MAX_PATH, saved_); }
    ~CurrentDirectory() { SetCurrentDirectoryW(saved_); }
    bool Enter(const std::wstring& dir) { return SetCurrentDirectoryW(dir.c_str()) != FALSE; }

private:
    wchar_t saved_[MAX_PATH];
};


// ---------------------------------------------------------------------------------
// Opening

struct SourceCase {
    const char* label;
    std::function<ZipHandle*()> open;
};

HANDLE OpenForReading(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

// The archive must stay readable after the caller closes its own handle.
ZipHandle* OpenThroughHandle(const std::wstring& path, int64_t offset) {
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER at;
    at.QuadPart = offset;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    ZipHandle* zip = OpenZip(file, 0, ZipFromHandle);
    CloseHandle(file);
    return zip;
}

size_t ArchiveStart(const Bytes& bytes) {
    static const uint8_t kLocal[] = {'P', 'K', 3, 4};
    for (size_t i = 0; i + 4 <= bytes.size(); i++)
        if (memcmp(&bytes[i], kLocal, 4) == 0) return i;
    return 0;
}

TEST(ZipOpen, EverySourceKindReadsTheArchive) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    const Bytes embedded = FixtureBytes(L"embedded.bin");
    const size_t start = ArchiveStart(embedded);
    ASSERT_GT(start, 0u);
    const Bytes expected = FixtureBytes(L"cg.txt");

    const SourceCase cases[] = {
        {"memory",
         [&] { return OpenZip(basic.data(), static_cast<uint32_t>(basic.size()), ZipFromMemory); }},
        {"memory, archive after junk",
         [&] {
             return OpenZip(embedded.data() + start, static_cast<uint32_t>(embedded.size() - start),
                            ZipFromMemory);
         }},
        {"file name", [] { return OpenZip(Fixture(L"basic.zip").c_str(), 0, ZipFromFile); }},
        {"handle", [] { return OpenThroughHandle(Fixture(L"basic.zip"), 0); }},
        {"handle positioned where the archive begins",
         [&] { return OpenThroughHandle(Fixture(L"embedded.bin"), static_cast<int64_t>(start)); }},
    };
    for (const SourceCase& c : cases) {
        SCOPED_TRACE(c.label);
        ZipPtr zip(c.open());
        ASSERT_TRUE(zip) << "last result: " << Utf8FromWide(Describe(ZR_RECENT));

        ZipItemInfo whole;
        ASSERT_EQ(ZR_OK, QueryZipItem(zip.get(), -1, &whole));
        EXPECT_EQ(kBasicCount, whole.index);

        int32_t index = -1;
        ZipItemInfo info;
        ASSERT_EQ(ZR_OK, LocateZipItem(zip.get(), L"config/cg.txt", false, &index, &info));
        EXPECT_EQ(kConfigText, index);
        Bytes data(info.uncompressedSize);
        ExtractZipItem(zip.get(), index, data.data(), static_cast<uint32_t>(data.size()),
                       ZipFromMemory);
        EXPECT_EQ(expected, data);
    }
}

TEST(ZipOpen, FileStaysOpenForReadingOnlyUntilReleased) {
    TempDir dir;
    const std::wstring path = dir.path() + L"package.zip";
    const Bytes basic = FixtureBytes(L"basic.zip");
    ASSERT_TRUE(WriteFileBytes(path, basic.data(), basic.size()));

    const struct {
        const char* label;
        int32_t kind;
    } cases[] = {{"file name", ZipFromFile}, {"handle", ZipFromHandle}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ZipHandle* zip = c.kind == ZipFromFile ? OpenZip(path.c_str(), 0, ZipFromFile)
                                               : OpenThroughHandle(path, 0);
        ASSERT_NE(nullptr, zip);

        HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, writer) << "the archive must not be writable meanwhile";
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        HANDLE reader = OpenForReading(path);
        EXPECT_NE(INVALID_HANDLE_VALUE, reader) << "other readers are welcome";
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);

        EXPECT_EQ(ZR_OK, ReleaseZip(zip));
        writer = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, writer) << "release must close the reader's handle";
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    }
}

TEST(ZipOpen, BadSourcesReturnNothingAndSayWhy) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    const std::string text = "just some text, no archive in here";
    const std::wstring missing = Fixture(L"no-such-archive.zip");
    const std::wstring truncated = Fixture(L"truncated.zip");
    HANDLE pipeRead = nullptr, pipeWrite = nullptr;
    ASSERT_TRUE(CreatePipe(&pipeRead, &pipeWrite, nullptr, 0));

    const struct {
        const char* label;
        const void* source;
        uint32_t length;
        int32_t kind;
        uint32_t expected;
    } cases[] = {
        {"memory without an archive", text.data(), static_cast<uint32_t>(text.size()),
         ZipFromMemory, ZR_CORRUPT},
        {"empty memory block", basic.data(), 0, ZipFromMemory, ZR_CORRUPT},
        {"first half of an archive", truncated.c_str(), 0, ZipFromFile, ZR_CORRUPT},
        {"missing file", missing.c_str(), 0, ZipFromFile, ZR_NOFILE},
        {"pipe handle", pipeRead, 0, ZipFromHandle, ZR_SEEK},
        {"invalid handle", INVALID_HANDLE_VALUE, 0, ZipFromHandle, ZR_SEEK},
        {"absent source", nullptr, 10, ZipFromMemory, ZR_ARGS},
        {"kind 0", basic.data(), static_cast<uint32_t>(basic.size()), 0, ZR_ARGS},
        {"kind 4", basic.data(), static_cast<uint32_t>(basic.size()), 4, ZR_ARGS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        OpenMemory(basic);  // leaves ZR_OK as the last result
        ASSERT_EQ(L"Success", Describe(ZR_RECENT));
        EXPECT_EQ(nullptr, OpenZip(c.source, c.length, c.kind));
        EXPECT_EQ(Describe(c.expected), Describe(ZR_RECENT));
    }
    EXPECT_EQ(nullptr, OpenZip(text.data(), static_cast<uint32_t>(text.size()), ZipFromMemory));
    EXPECT_EQ(L"Zipfile is corrupt or not a zipfile", Describe(ZR_RECENT));
    CloseHandle(pipeRead);
    CloseHandle(pipeWrite);
}

// ---------------------------------------------------------------------------------
// Finding

TEST(ZipFind, MatchesWholeStoredNamesFoldingAsciiLettersOnly) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    ZipPtr zip = OpenMemory(basic);
    ASSERT_TRUE(zip);
    const std::wstring longName = LongName();

    const struct {
        const char* label;
        std::wstring name;
        bool ignoreCase;
        int32_t expected;  // -1: not found
    } cases[] = {
        {"exact", L"config/cg.txt", false, kConfigText},
        {"upper case, case kept", L"CONFIG/CG.TXT", false, -1},
        {"upper case, case ignored", L"CONFIG/CG.TXT", true, kConfigText},
        {"separators are not letters", L"config\\cg.txt", true, -1},
        {"prefix of a stored name", L"config/cg.tx", false, -1},
        {"directory item", L"config/", false, kConfigDir},
        {"UTF-8 stored name", kUtf8Wide, false, kUtf8Name},
        {"UTF-8 name, ASCII letters folded", L"DONN\u00e9ES/\u00e9T\u00e9.TXT", true, kUtf8Name},
        {"UTF-8 name, other letters kept", L"DONN\u00c9ES/\u00c9T\u00c9.TXT", true, -1},
        {"first 255 characters of a longer name", longName.substr(0, 255), false, -1},
        {"name of 256 characters or more", longName, false, -1},
        {"empty name", L"", false, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        int32_t index = 1234;
        ZipItemInfo info;
        memset(&info, 0x5A, sizeof info);
        uint32_t result = LocateZipItem(zip.get(), c.name.c_str(), c.ignoreCase, &index, &info);
        EXPECT_EQ(c.expected, index);
        if (c.expected < 0) {
            EXPECT_EQ(ZR_NOTFOUND, result);
            ZipItemInfo cleared = {};
            cleared.index = -1;
            EXPECT_EQ(0, memcmp(&cleared, &info, sizeof info)) << "record must be cleared";
        } else {
            EXPECT_EQ(ZR_OK, result);
            EXPECT_EQ(c.expected, info.index);
        }

        ZipItemInfoW wide;
        memset(&wide, 0x5A, sizeof wide);
        ZipItemInfoW untouched = wide;
        result = LocateZipItemW(zip.get(), c.name.c_str(), c.ignoreCase, &index, &wide);
        EXPECT_EQ(c.expected, index);
        if (c.expected < 0) {
            EXPECT_EQ(ZR_NOTFOUND, result);
            EXPECT_EQ(0, memcmp(&untouched, &wide, sizeof wide)) << "wide record is left alone";
        } else {
            EXPECT_EQ(ZR_OK, result);
            EXPECT_EQ(c.expected, wide.index);
        }
    }
}

TEST(ZipFind, OutputsAreOptionalExceptTheWideRecord) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    ZipPtr zip = OpenMemory(basic);
    ASSERT_TRUE(zip);
    EXPECT_EQ(ZR_OK, LocateZipItem(zip.get(), L"hidden.sys", false, nullptr, nullptr));
    EXPECT_EQ(ZR_NOTFOUND, LocateZipItem(zip.get(), L"nothing", false, nullptr, nullptr));
    int32_t index = -1;
    EXPECT_EQ(ZR_ARGS, LocateZipItemW(zip.get(), L"hidden.sys", false, &index, nullptr));
    EXPECT_EQ(ZR_ARGS, LocateZipItem(zip.get(), nullptr, false, &index, nullptr));
}

// ---------------------------------------------------------------------------------
// Item information

TEST(ZipQuery, NamesAttributesAndSizes) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    const size_t textSize = FixtureBytes(L"cg.txt").size();
    ZipPtr zip = OpenMemory(basic);
    ASSERT_TRUE(zip);

    const struct {
        int32_t index;
        const char* name;
        uint32_t attributes;
        size_t size;
        bool stored;
    } cases[] = {
        // Unix directory with owner write permission.
        {kConfigDir, "config/", FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_DIRECTORY, 0, true},
        // Unix regular file, mode 644.
        {kConfigText, "config/cg.txt", FILE_ATTRIBUTE_NORMAL, textSize, false},
        // Written on Windows (no Unix part): read-only follows, plus the archive bit.
        {kLogo, "images/logo.bin",
         FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 3000, true},
        {kHiddenSys, "hidden.sys",
         FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY |
             FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
         13, false},
        {kEmpty, "empty.txt", FILE_ATTRIBUTE_NORMAL, 0, false},
        {kUtf8Name, kUtf8Stored, FILE_ATTRIBUTE_NORMAL, 11, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ZipItemInfo info;
        ASSERT_EQ(ZR_OK, QueryZipItem(zip.get(), c.index, &info));
        EXPECT_EQ(c.index, info.index);
        EXPECT_STREQ(c.name, info.name);
        EXPECT_EQ(c.attributes, info.attributes);
        EXPECT_EQ(static_cast<int32_t>(c.size), info.uncompressedSize);
        if (c.stored) {
            EXPECT_EQ(info.uncompressedSize, info.compressedSize);
        } else if (c.size > 100) {
            EXPECT_LT(info.compressedSize, info.uncompressedSize);
        }
    }
}

TEST(ZipQuery, WideNamesFollowTheStoredEncoding) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    ZipPtr zip = OpenMemory(basic);
    ASSERT_TRUE(zip);

    const struct {
        int32_t index;
        std::wstring name;
    } cases[] = {
        {kConfigText, L"config/cg.txt"},
        {kUtf8Name, kUtf8Wide},
        {kLongName, LongName().substr(0, 259)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        ZipItemInfoW info;
        memset(&info, 0x5A, sizeof info);
        ASSERT_EQ(ZR_OK, QueryZipItemW(zip.get(), c.index, &info));
        EXPECT_EQ(c.name, std::wstring(info.name));
        for (size_t i = c.name.size(); i < 260; i++) ASSERT_EQ(L'\0', info.name[i]) << i;
        ZipItemInfo narrow;
        ASSERT_EQ(ZR_OK, QueryZipItem(zip.get(), c.index, &narrow));
        EXPECT_EQ(narrow.attributes, info.attributes);
        EXPECT_EQ(narrow.uncompressedSize, info.uncompressedSize);
        EXPECT_EQ(0, memcmp(&narrow.modificationTime, &info.modificationTime, sizeof(FILETIME)));
    }
}

TEST(ZipQuery, TimesComeFromTheDosDateAndTheExtendedTimestamp) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    ZipPtr zip = OpenMemory(basic);
    ASSERT_TRUE(zip);

    const FILETIME dos2021 = FileTimeOf(2021, 3, 4, 5, 6, 8);
    const FILETIME dos2019 = FileTimeOf(2019, 1, 2, 3, 4, 6);
    const FILETIME unix1600000000 = FileTimeOf(2020, 9, 13, 12, 26, 40);
    const FILETIME plus100 = FileTimeOf(2020, 9, 13, 12, 28, 20);
    const FILETIME plus200 = FileTimeOf(2020, 9, 13, 12, 30, 0);

    const struct {
        const char* label;
        int32_t index;
        FILETIME modification, access, creation;
    } cases[] = {
        {"DOS date only", kConfigText, dos2021, dos2021, dos2021},
        {"extended timestamp with bit 0 only", kUtModification, unix1600000000, dos2019, dos2019},
        {"all three times, after an unknown block", kUtAll, unix1600000000, plus100, plus200},
        {"access time announced but missing", kUtShort, unix1600000000, dos2019, dos2019},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ZipItemInfo info;
        ASSERT_EQ(ZR_OK, QueryZipItem(zip.get(), c.index, &info));
        EXPECT_EQ(Ticks(c.modification), Ticks(info.modificationTime));
        EXPECT_EQ(Ticks(c.access), Ticks(info.accessTime));
        EXPECT_EQ(Ticks(c.creation), Ticks(info.creationTime));
    }
}

TEST(ZipQuery, WholeArchiveAndIndexRange) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    ZipPtr zip = OpenMemory(basic);
    ASSERT_TRUE(zip);

    ZipItemInfo info;
    memset(&info, 0x5A, sizeof info);
    ASSERT_EQ(ZR_OK, QueryZipItem(zip.get(), -1, &info));
    ZipItemInfo expected = {};
    expected.index = kBasicCount;
    EXPECT_EQ(0, memcmp(&expected, &info, sizeof info));

    ZipItemInfoW wide;
    memset(&wide, 0x5A, sizeof wide);
    ASSERT_EQ(ZR_OK, QueryZipItemW(zip.get(), -1, &wide));
    ZipItemInfoW expectedWide = {};
    expectedWide.index = kBasicCount;
    EXPECT_EQ(0, memcmp(&expectedWide, &wide, sizeof wide));

    const int32_t badIndexes[] = {-2, kBasicCount, INT32_MAX, INT32_MIN};
    for (int32_t bad : badIndexes) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(ZR_ARGS, QueryZipItem(zip.get(), bad, &info));
        EXPECT_EQ(ZR_ARGS, QueryZipItemW(zip.get(), bad, &wide));
    }
    EXPECT_EQ(ZR_ARGS, QueryZipItem(zip.get(), 0, nullptr));
}

// ---------------------------------------------------------------------------------
// Extraction into memory

TEST(ZipMemory, ItemsArriveWholeOrInOrderedPartsAndTheLastCallCompletes) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    ZipPtr zip = OpenMemory(basic);
    ASSERT_TRUE(zip);

    const struct {
        const char* label;
        int32_t index;
        Bytes expected;
    } cases[] = {
        {"deflated", kConfigText, FixtureBytes(L"cg.txt")},
        {"stored", kLogo, FixtureBytes(L"logo.bin")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const uint32_t size = static_cast<uint32_t>(c.expected.size());

        // A buffer with room for the item takes it whole; the next call starts over.
        for (int round = 0; round < 2; round++) {
            SCOPED_TRACE(round);
            Bytes buffer(size + 64, 0xEE);
            EXPECT_EQ(ZR_OK,
                      ExtractZipItem(zip.get(), c.index, buffer.data(), size + 64, ZipFromMemory));
            EXPECT_EQ(c.expected, Bytes(buffer.begin(), buffer.begin() + size));
            EXPECT_EQ(Bytes(64, 0xEE), Bytes(buffer.begin() + size, buffer.end()));
        }

        const uint32_t half = (size + 1) / 2;
        Bytes first(half), second(half);
        ASSERT_EQ(ZR_MORE, ExtractZipItem(zip.get(), c.index, first.data(), half, ZipFromMemory));
        ASSERT_EQ(ZR_OK, ExtractZipItem(zip.get(), c.index, second.data(), half, ZipFromMemory));
        first.insert(first.end(), second.begin(), second.begin() + (size - half));
        EXPECT_EQ(c.expected, first);

        Bytes pieces;
        EXPECT_EQ(ZR_OK, ReadAll(zip.get(), c.index, 1000, c.expected.size(), &pieces));
        EXPECT_EQ(c.expected, pieces);
    }
}

TEST(ZipMemory, AnyOtherCallInBetweenRestartsTheItem) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    const Bytes expected = FixtureBytes(L"cg.txt");

    const struct {
        const char* label;
        std::function<void(ZipHandle*)> interrupt;
    } cases[] = {
        {"query of the same item",
         [](ZipHandle* z) {
             ZipItemInfo i;
             QueryZipItem(z, kConfigText, &i);
         }},
        {"query of the whole archive",
         [](ZipHandle* z) {
             ZipItemInfo i;
             QueryZipItem(z, -1, &i);
         }},
        {"find that succeeds",
         [](ZipHandle* z) { LocateZipItem(z, L"empty.txt", false, nullptr, nullptr); }},
        {"find that fails",
         [](ZipHandle* z) { LocateZipItem(z, L"nothing", false, nullptr, nullptr); }},
        {"extraction of another item",
         [](ZipHandle* z) {
             uint8_t b[16];
             ExtractZipItem(z, kLogo, b, sizeof b, ZipFromMemory);
         }},
    };
    const uint32_t part = 5000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ZipPtr zip = OpenMemory(basic);
        ASSERT_TRUE(zip);
        Bytes buffer(part);
        ASSERT_EQ(ZR_MORE,
                  ExtractZipItem(zip.get(), kConfigText, buffer.data(), part, ZipFromMemory));
        ASSERT_EQ(ZR_MORE,
                  ExtractZipItem(zip.get(), kConfigText, buffer.data(), part, ZipFromMemory));
        EXPECT_EQ(Bytes(expected.begin() + part, expected.begin() + 2 * part), buffer);
        c.interrupt(zip.get());
        ASSERT_EQ(ZR_MORE,
                  ExtractZipItem(zip.get(), kConfigText, buffer.data(), part, ZipFromMemory));
        EXPECT_EQ(Bytes(expected.begin(), expected.begin() + part), buffer);
    }
}

TEST(ZipMemory, EmptyItemsAndFaultyArguments) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    ZipPtr zip = OpenMemory(basic);
    ASSERT_TRUE(zip);
    uint8_t buffer[16];

    EXPECT_EQ(ZR_OK, ExtractZipItem(zip.get(), kEmpty, nullptr, 0, ZipFromMemory));
    EXPECT_EQ(ZR_OK, ExtractZipItem(zip.get(), kEmpty, buffer, sizeof buffer, ZipFromMemory));
    EXPECT_EQ(ZR_OK, ExtractZipItem(zip.get(), kConfigDir, buffer, sizeof buffer, ZipFromMemory));

    const struct {
        const char* label;
        int32_t index;
        void* target;
        uint32_t length;
        int32_t kind;
    } cases[] = {
        {"index -1", -1, buffer, sizeof buffer, ZipFromMemory},
        {"index below -1", -7, buffer, sizeof buffer, ZipFromMemory},
        {"index past the end", kBasicCount, buffer, sizeof buffer, ZipFromMemory},
        {"absent buffer", kConfigText, nullptr, 100, ZipFromMemory},
        {"no room to make progress", kConfigText, buffer, 0, ZipFromMemory},
        {"unknown kind", kConfigText, buffer, sizeof buffer, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(ZR_ARGS, ExtractZipItem(zip.get(), c.index, c.target, c.length, c.kind));
    }
}

// ---------------------------------------------------------------------------------
// Damaged items

TEST(ZipDamaged, EachDamageIsReportedAndTheArchiveStaysUsable) {
    const Bytes damaged = FixtureBytes(L"damaged.zip");
    ZipPtr zip = OpenMemory(damaged);
    ASSERT_TRUE(zip);
    TempDir dir;
    const std::wstring target = dir.path() + L"target.txt";
    const std::string original = "existing target";

    const struct {
        const wchar_t* name;
        uint32_t query;
        uint32_t toMemory;
        uint32_t toFile;
    } cases[] = {
        {L"good.txt", ZR_OK, ZR_OK, ZR_OK},
        // The local header disagrees with the central directory.
        {L"local-crc.txt", ZR_CORRUPT, ZR_CORRUPT, ZR_CORRUPT},
        // The data do not match their CRC.
        {L"bad-crc.txt", ZR_OK, ZR_FLATE, ZR_WRITE},
        // The data end before the stated size.
        {L"short.txt", ZR_OK, ZR_FLATE, ZR_WRITE},
        // Compression method 12 (bzip2) cannot be read.
        {L"bzip2.txt", ZR_CORRUPT, ZR_CORRUPT, ZR_CORRUPT},
        // Encrypted data cannot be read.
        {L"locked.txt", ZR_OK, ZR_CORRUPT, ZR_CORRUPT},
        // The local extra field runs past the end of the archive.
        {L"extra-overrun.txt", ZR_READ, ZR_FLATE, ZR_READ},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8FromWide(c.name));
        int32_t index = -1;
        ASSERT_EQ(ZR_OK, LocateZipItem(zip.get(), c.name, false, &index, nullptr));
        ZipItemInfo info;
        EXPECT_EQ(c.query, QueryZipItem(zip.get(), index, &info));

        Bytes data;
        EXPECT_EQ(c.toMemory, ReadAll(zip.get(), index, 4096, 1800, &data));

        ASSERT_TRUE(WriteFileBytes(target, original.data(), original.size()));
        EXPECT_EQ(c.toFile, ExtractZipItem(zip.get(), index, const_cast<wchar_t*>(target.c_str()),
                                           0, ZipFromFile));
        if (c.toFile == ZR_CORRUPT || c.toFile == ZR_READ) {
            Bytes kept = ReadFileBytes(target);
            EXPECT_EQ(original, std::string(kept.begin(), kept.end()))
                << "an unreadable item must leave the target alone";
        }

        Bytes good;
        int32_t goodIndex = -1;
        ASSERT_EQ(ZR_OK, LocateZipItem(zip.get(), L"good.txt", false, &goodIndex, nullptr));
        EXPECT_EQ(ZR_OK, ReadAll(zip.get(), goodIndex, 4096, 1800, &good));
        EXPECT_EQ(std::string(good.begin(), good.begin() + 45),
                  "The quick brown fox jumps over the lazy dog.\n");
    }
}

// ---------------------------------------------------------------------------------
// Sizes the data cannot have

TEST(ZipImplausible, ItemsClaimingSizesTheirDataCannotHaveAreRefusedBeforeAnyRead) {
    const Bytes lying = FixtureBytes(L"lying.zip");
    ZipPtr zip = OpenMemory(lying);
    ASSERT_TRUE(zip);
    TempDir dir;
    const std::wstring target = dir.path() + L"target.txt";
    const std::string original = "existing target";

    const struct {
        const wchar_t* name;
        bool refused;
    } cases[] = {
        {L"stored-longer.txt", true},
        {L"stored-shorter.txt", true},
        // 1032 bytes out of every deflated byte, plus a little, is what deflate can make.
        {L"ratio-limit.txt", false},
        {L"ratio-beyond.txt", true},
        {L"claims-2gib.txt", true},
        {L"beyond-archive.txt", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8FromWide(c.name));
        int32_t index = -1;
        ASSERT_EQ(ZR_OK, LocateZipItem(zip.get(), c.name, false, &index, nullptr));
        ZipItemInfo info;
        ZipItemInfoW wide;
        const uint32_t expected = c.refused ? ZR_CORRUPT : ZR_OK;
        EXPECT_EQ(expected, LocateZipItem(zip.get(), c.name, false, nullptr, &info));
        EXPECT_EQ(expected, LocateZipItemW(zip.get(), c.name, false, nullptr, &wide));
        EXPECT_EQ(expected, QueryZipItem(zip.get(), index, &info));
        if (!c.refused) {
            EXPECT_EQ(info.compressedSize * 1032 + 64, info.uncompressedSize);
            continue;
        }
        Bytes buffer(4096);
        EXPECT_EQ(ZR_CORRUPT,
                  ExtractZipItem(zip.get(), index, buffer.data(), 4096, ZipFromMemory));
        ASSERT_TRUE(WriteFileBytes(target, original.data(), original.size()));
        EXPECT_EQ(ZR_CORRUPT, ExtractZipItem(zip.get(), index,
                                             const_cast<wchar_t*>(target.c_str()), 0, ZipFromFile));
        Bytes kept = ReadFileBytes(target);
        EXPECT_EQ(original, std::string(kept.begin(), kept.end()));
    }
}

// The data inflate to twice the stated 900 bytes: neither a larger buffer nor a file
// receives more than the header states.
TEST(ZipImplausible, NothingBeyondTheStatedSizeIsWritten) {
    const Bytes lying = FixtureBytes(L"lying.zip");
    ZipPtr zip = OpenMemory(lying);
    ASSERT_TRUE(zip);
    const std::string text = "The quick brown fox jumps over the lazy dog.\n";
    std::string stated;
    while (stated.size() < 900) stated += text;
    stated.resize(900);

    int32_t index = -1;
    ASSERT_EQ(ZR_OK, LocateZipItem(zip.get(), L"understated.txt", false, &index, nullptr));
    Bytes buffer(4096, 0xA5);
    EXPECT_EQ(ZR_OK, ExtractZipItem(zip.get(), index, buffer.data(), 4096, ZipFromMemory));
    EXPECT_EQ(stated, std::string(buffer.begin(), buffer.begin() + 900));
    EXPECT_EQ(Bytes(4096 - 900, 0xA5), Bytes(buffer.begin() + 900, buffer.end()));

    TempDir dir;
    const std::wstring target = dir.path() + L"understated.txt";
    EXPECT_EQ(ZR_OK, ExtractZipItem(zip.get(), index, const_cast<wchar_t*>(target.c_str()), 0,
                                    ZipFromFile));
    Bytes written = ReadFileBytes(target);
    EXPECT_EQ(stated, std::string(written.begin(), written.end()));
}

// ---------------------------------------------------------------------------------
// Extraction into files and handles

class ZipToFile : public ::testing::Test {
protected:
    void SetUp() override {
        basic_ = FixtureBytes(L"basic.zip");
        ASSERT_TRUE(cwd_.Enter(dir_.path()));
        zip_.reset(OpenMemory(basic_).release());
        ASSERT_TRUE(zip_);
    }

    uint32_t ToFile(int32_t index, const std::wstring& target) {
        return ExtractZipItem(zip_.get(), index, const_cast<wchar_t*>(target.c_str()), 0,
                              ZipFromFile);
    }

    Bytes basic_;
    TempDir dir_;
    CurrentDirectory cwd_;
    ZipPtr zip_;
};

TEST_F(ZipToFile, RelativeTargetsLandBeneathTheRootWithTheItemsTimes) {
    const struct {
        const char* label;
        int32_t index;
        std::wstring target;
        std::wstring fixture;
        FILETIME modification;
    } cases[] = {
        {"deflated, backslashes", kConfigText, L"config\\cg.txt", L"cg.txt",
         FileTimeOf(2021, 3, 4, 5, 6, 8)},
        {"stored, slashes, two new levels", kLogo, L"images/big/logo.bin", L"logo.bin",
         FileTimeOf(2022, 12, 31, 23, 59, 58)},
        {"extended timestamp", kUtModification, L"ut\\mtime.txt", L"",
         FileTimeOf(2020, 9, 13, 12, 26, 40)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_EQ(ZR_OK, ToFile(c.index, c.target));
        const std::wstring full = dir_.path() + c.target;

        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExW(full.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(Ticks(c.modification), Ticks(data.ftLastWriteTime));
        EXPECT_FALSE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            << "a read-only item still gives a writable file";
        if (!c.fixture.empty()) {
            EXPECT_EQ(FixtureBytes(c.fixture.c_str()), ReadFileBytes(full));
        }
    }
}

TEST_F(ZipToFile, RootIsTheDirectoryCurrentWhenOpened) {
    TempDir elsewhere;
    ASSERT_TRUE(cwd_.Enter(elsewhere.path()));
    ASSERT_EQ(ZR_OK, ToFile(kConfigText, L"later\\cg.txt"));
    EXPECT_EQ(FixtureBytes(L"cg.txt"), ReadFileBytes(dir_.path() + L"later\\cg.txt"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesW((elsewhere.path() + L"later\\cg.txt").c_str()));
    ASSERT_TRUE(cwd_.Enter(dir_.path()));  // lets `elsewhere` be removed
}

TEST_F(ZipToFile, AbsoluteTargetReplacesAReadOnlyFile) {
    TempDir other;
    const std::wstring target = other.path() + L"deep\\er\\hidden.sys";
    ASSERT_EQ(ZR_OK, ToFile(kEmpty, target));
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));

    ASSERT_EQ(ZR_OK, ToFile(kHiddenSys, target));
    Bytes got = ReadFileBytes(target);
    EXPECT_EQ("system file\r\n", std::string(got.begin(), got.end()));
    DWORD attributes = GetFileAttributesW(target.c_str());
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
}

TEST_F(ZipToFile, DirectoryItemsMakeTheTargetDirectory) {
    ASSERT_EQ(ZR_OK, ToFile(kConfigDir, L"made\\here"));
    DWORD attributes = GetFileAttributesW((dir_.path() + L"made\\here").c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir_.path() + L"config").c_str()));
}

TEST_F(ZipToFile, HandleTargetsAreWrittenAtTheirPositionAndStayOpen) {
    const std::wstring path = dir_.path() + L"joined.bin";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD put = 0;
    ASSERT_TRUE(WriteFile(file, "HEAD", 4, &put, nullptr));

    EXPECT_EQ(ZR_OK, ExtractZipItem(zip_.get(), kHiddenSys, file, 0, ZipFromHandle));
    EXPECT_EQ(ZR_OK, ExtractZipItem(zip_.get(), kConfigDir, file, 0, ZipFromHandle));
    EXPECT_TRUE(WriteFile(file, "TAIL", 4, &put, nullptr)) << "the handle must stay open";
    CloseHandle(file);

    Bytes got = ReadFileBytes(path);
    EXPECT_EQ("HEADsystem file\r\nTAIL", std::string(got.begin(), got.end()));
}

TEST_F(ZipToFile, TargetsThatCannotBeMadeAreReported) {
    const std::string text = "keep";
    ASSERT_TRUE(WriteFileBytes(dir_.path() + L"plain.txt", text.data(), text.size()));
    ASSERT_TRUE(CreateDirectoryW((dir_.path() + L"busy").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(dir_.path() + L"busy\\inside.txt", text.data(), text.size()));

    const struct {
        const char* label;
        int32_t index;
        const void* target;
        int32_t kind;
        uint32_t expected;
    } cases[] = {
        {"beneath a plain file", kConfigText, L"plain.txt\\cg.txt", ZipFromFile, ZR_NOFILE},
        {"an existing directory", kConfigText, L"busy", ZipFromFile, ZR_NOFILE},
        {"empty name", kConfigText, L"", ZipFromFile, ZR_ARGS},
        {"absent name", kConfigText, nullptr, ZipFromFile, ZR_ARGS},
        {"invalid handle", kConfigText, INVALID_HANDLE_VALUE, ZipFromHandle, ZR_ARGS},
        {"index past the end", kBasicCount, L"x.txt", ZipFromFile, ZR_ARGS},
        {"index -1", -1, L"x.txt", ZipFromFile, ZR_ARGS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.expected,
                  ExtractZipItem(zip_.get(), c.index, const_cast<void*>(c.target), 0, c.kind));
    }
    Bytes kept = ReadFileBytes(dir_.path() + L"busy\\inside.txt");
    EXPECT_EQ(text, std::string(kept.begin(), kept.end())) << "the directory stays where it was";
}

// ---------------------------------------------------------------------------------
// Result messages and handle checks

TEST(ZipDescribe, MessagesTruncationAndTheLastResult) {
    const struct {
        uint32_t code;
        const wchar_t* text;
    } cases[] = {
        {ZR_OK, L"Success"},
        {ZR_NODUPH, L"Culdn't duplicate handle"},
        {ZR_NOTFOUND, L"File not found in the zipfile"},
        {ZR_MORE, L"Still more data to unzip"},
        {ZR_ARGS, L"Caller: faulty arguments"},
        {ZR_ZMODE, L"Caller: mixing creation and opening of zip"},
        {ZR_FLATE, L"Zip-bug: an internal error during flation"},
        {0x12345, L"unknown zip result code"},
        {0x00000601, L"unknown zip result code"},
    };
    for (const auto& c : cases) {
        wchar_t text[64];
        EXPECT_EQ(wcslen(c.text), DescribeZipResult(c.code, text, 64));
        EXPECT_STREQ(c.text, text);
    }

    wchar_t small[5] = {L'x', L'x', L'x', L'x', L'x'};
    EXPECT_EQ(29u, DescribeZipResult(ZR_NOTFOUND, small, 5));
    EXPECT_STREQ(L"File", small);
    wchar_t one[1] = {L'x'};
    EXPECT_EQ(29u, DescribeZipResult(ZR_NOTFOUND, one, 1));
    EXPECT_EQ(L'\0', one[0]);
    EXPECT_EQ(29u, DescribeZipResult(ZR_NOTFOUND, nullptr, 100));

    const Bytes basic = FixtureBytes(L"basic.zip");
    ZipPtr zip = OpenMemory(basic);
    ASSERT_TRUE(zip);
    LocateZipItem(zip.get(), L"nothing", false, nullptr, nullptr);
    EXPECT_EQ(L"File not found in the zipfile", Describe(ZR_RECENT));
    ZipItemInfo info;
    QueryZipItem(zip.get(), 0, &info);
    EXPECT_EQ(L"Success", Describe(ZR_RECENT));
}

TEST(ZipHandles, AbsentAndForeignHandlesAreRefused) {
    const Bytes basic = FixtureBytes(L"basic.zip");
    ZipPtr zip = OpenMemory(basic);
    ASSERT_TRUE(zip);
    ZipHandle foreign = *zip;
    foreign.kindTag = 2;
    ZipHandle empty = {1, nullptr};

    const struct {
        const char* label;
        std::function<uint32_t(ZipHandle*)> call;
    } operations[] = {
        {"LocateZipItem",
         [](ZipHandle* z) { return LocateZipItem(z, L"hidden.sys", false, nullptr, nullptr); }},
        {"LocateZipItemW",
         [](ZipHandle* z) {
             ZipItemInfoW i;
             return LocateZipItemW(z, L"hidden.sys", false, nullptr, &i);
         }},
        {"QueryZipItem",
         [](ZipHandle* z) {
             ZipItemInfo i;
             return QueryZipItem(z, 0, &i);
         }},
        {"QueryZipItemW",
         [](ZipHandle* z) {
             ZipItemInfoW i;
             return QueryZipItemW(z, 0, &i);
         }},
        {"ExtractZipItem",
         [](ZipHandle* z) {
             uint8_t b[8];
             return ExtractZipItem(z, kHiddenSys, b, sizeof b, ZipFromMemory);
         }},
        {"ReleaseZip", [](ZipHandle* z) { return ReleaseZip(z); }},
    };
    for (const auto& op : operations) {
        SCOPED_TRACE(op.label);
        EXPECT_EQ(ZR_ARGS, op.call(nullptr));
        EXPECT_EQ(L"Caller: faulty arguments", Describe(ZR_RECENT));
        EXPECT_EQ(ZR_ZMODE, op.call(&foreign));
        EXPECT_EQ(L"Caller: mixing creation and opening of zip", Describe(ZR_RECENT));
        EXPECT_EQ(ZR_ARGS, op.call(&empty));
    }
    // The refused calls left the real archive alone.
    ZipItemInfo info;
    EXPECT_EQ(ZR_OK, QueryZipItem(zip.get(), kHiddenSys, &info));
}

// ---------------------------------------------------------------------------------
// Robustness

bool OneOf(uint32_t value, std::initializer_list<uint32_t> allowed) {
    for (uint32_t a : allowed)
        if (a == value) return true;
    return false;
}

// Drives every reading operation over an archive; each call must end in one of the
// results it can give for bad data.
void Exercise(const Bytes& bytes) {
    ZipHandle* zip = OpenZip(bytes.data(), static_cast<uint32_t>(bytes.size()), ZipFromMemory);
    if (!zip) {
        EXPECT_EQ(Describe(ZR_CORRUPT), Describe(ZR_RECENT));
        return;
    }
    ZipItemInfo whole;
    ASSERT_EQ(ZR_OK, QueryZipItem(zip, -1, &whole));
    const int32_t count = whole.index < 24 ? whole.index : 24;
    Bytes buffer(0x10000);
    for (int32_t i = 0; i < count; i++) {
        ZipItemInfo info;
        uint32_t queried = QueryZipItem(zip, i, &info);
        ASSERT_TRUE(OneOf(queried, {ZR_OK, ZR_CORRUPT, ZR_READ})) << std::hex << queried;
        ZipItemInfoW wide;
        ASSERT_TRUE(OneOf(QueryZipItemW(zip, i, &wide), {ZR_OK, ZR_CORRUPT, ZR_READ}));
        if (queried == ZR_OK) {
            ASSERT_GE(info.uncompressedSize, 0);
            ASSERT_GE(info.compressedSize, 0);
            int32_t found = -1;
            uint32_t located =
                LocateZipItem(zip, WideFromAnsi(info.name).c_str(), true, &found, nullptr);
            ASSERT_TRUE(OneOf(located, {ZR_OK, ZR_NOTFOUND, ZR_CORRUPT, ZR_READ}))
                << std::hex << located;
        }
        uint32_t extracted = ZR_MORE;
        for (int call = 0; call < 64 && extracted == ZR_MORE; call++) {
            extracted = ExtractZipItem(zip, i, buffer.data(), static_cast<uint32_t>(buffer.size()),
                                       ZipFromMemory);
            ASSERT_TRUE(OneOf(extracted, {ZR_OK, ZR_MORE, ZR_CORRUPT, ZR_FLATE}))
                << std::hex << extracted;
        }
    }
    uint32_t missing = LocateZipItem(zip, L"no such item", false, nullptr, nullptr);
    EXPECT_TRUE(OneOf(missing, {ZR_NOTFOUND, ZR_CORRUPT})) << std::hex << missing;
    EXPECT_EQ(ZR_OK, ReleaseZip(zip));
}

TEST(ZipRobustness, TruncatedAndMutatedArchivesEndInResultCodes) {
    const Bytes sources[] = {FixtureBytes(L"basic.zip"), FixtureBytes(L"damaged.zip")};
    for (const Bytes& source : sources) ASSERT_FALSE(source.empty());
    std::mt19937 random(20240611u);
    for (int iteration = 0; iteration < 1500; iteration++) {
        const Bytes& source = sources[iteration % 2];
        Bytes bytes = source;
        const size_t size = bytes.size();
        switch (random() % 4) {
            case 0:  // truncated
                bytes.resize(random() % size);
                break;
            case 1:  // a few random bytes anywhere
                for (int n = 1 + random() % 8; n > 0; n--) bytes[random() % size] = random() & 0xFF;
                break;
            case 2:  // bytes in the central directory and the end record
                for (int n = 1 + random() % 4; n > 0; n--)
                    bytes[size - 1 - random() % (size < 700 ? size : 700)] = random() & 0xFF;
                break;
            case 3: {  // a field of the central directory set to an extreme
                size_t at = size - 4 - random() % (size < 700 ? size - 4 : 696);
                static const uint32_t kExtremes[] = {0, 1, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF};
                uint32_t v = kExtremes[random() % 5];
                size_t width = (random() % 2) ? 2 : 4;
                for (size_t b = 0; b < width; b++)
                    bytes[at + b] = static_cast<uint8_t>(v >> (8 * b));
                break;
            }
        }
        SCOPED_TRACE(iteration);
        Exercise(bytes);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
