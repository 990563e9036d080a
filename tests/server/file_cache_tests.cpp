// The resource dictionary file, check values of cached files, saving and the names
// that may be joined to the cache directory. Real files in a temporary directory.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>
#include <wchar.h>

#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "dictionary_record.h"
#include "ravlib/log.h"
#include "ravlib/stream.h"
#include "server/file_cache.h"
#include "server/dictionary_file.h"
#include "server/file_dictionary.h"
#include "server/scramble.h"
#include "server/suffix_list.h"
#include "support/failing_heap.h"
#include "support/test_support.h"

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

const uint8_t* Bytes(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

uint32_t Crc(const std::string& content) {
    return static_cast<uint32_t>(crc32(0, Bytes(content), static_cast<uInt>(content.size())));
}

std::string Scrambled(std::string content) {
    ScrambleWords(&content[0], content.size() < 256 ? content.size() : 256);
    return content;
}

class DictionaryTest : public ::testing::Test {
protected:
    void TearDown() override { FileDictionaryClear(); }
    TempDir dir;
};

TEST_F(DictionaryTest, RecordsFirstOfANameWinsAndACutShortLastRecordIsIgnored) {
    const std::string complete = DictionaryRecord("res/a.swf", 0x11223344) + DictionaryRecord("b", 7) +
                                 DictionaryRecord("res/a.swf", 99) + DictionaryRecord("", 5);
    struct Case {
        const char* what;
        std::string tail;
    } cases[] = {
        {"nothing behind", ""},
        {"value cut", DictionaryRecord("cut.txt", 1).substr(0, 10)},
        {"name cut", DictionaryRecord("cut.txt", 1).substr(0, 4)},
        {"length byte alone", std::string(1, '\x07')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileDictionaryClear();
        const std::string bytes = complete + c.tail;
        DictionaryReadEnd end;
        EXPECT_EQ(FileDictionaryAddRecords(Bytes(bytes), bytes.size(), &end), 4u);
        EXPECT_EQ(end.reason, c.tail.empty() ? kDictionaryReadComplete : kDictionaryRecordCutShort);
        EXPECT_EQ(end.offset, complete.size());
        EXPECT_EQ(FileDictionaryLookup("res/a.swf"), 0x11223344u);
        EXPECT_EQ(FileDictionaryLookup("b"), 7u);
        EXPECT_TRUE(FileDictionaryContains(""));
        EXPECT_FALSE(FileDictionaryContains("cut.txt"));
        EXPECT_EQ(FileDictionaryLookup("absent"), 0u);
        EXPECT_EQ(FileDictionarySize(), 3u);
    }
}

TEST_F(DictionaryTest, NamesAreBytesAndANegativeLengthEndsTheRead) {
    const std::string high("\xC3\xA9/\xFF.dat", 7);
    const std::string bytes = DictionaryRecord(high, 3) + std::string(1, '\x80') + DictionaryRecord("after", 4);
    DictionaryReadEnd end;
    EXPECT_EQ(FileDictionaryAddRecords(Bytes(bytes), bytes.size(), &end), 1u);
    EXPECT_EQ(end.reason, kDictionaryBadNameLength);
    EXPECT_EQ(end.offset, DictionaryRecord(high, 3).size());
    EXPECT_EQ(FileDictionaryLookup(high.c_str()), 3u);
    EXPECT_FALSE(FileDictionaryContains("after"));
}

TEST_F(DictionaryTest, LoadFromFileAddsToWhatIsThere) {
    const std::wstring first = dir.path() + L"hashdict.txt";
    const std::wstring second = dir.path() + L"more.txt";
    const std::string one = DictionaryRecord("a.swf", 1) + DictionaryRecord("b.swf", 2);
    const std::string two = DictionaryRecord("a.swf", 100) + DictionaryRecord("c.swf", 3) + "\x05" "ab";
    ASSERT_TRUE(WriteFileBytes(first, one.data(), one.size()));
    ASSERT_TRUE(WriteFileBytes(second, two.data(), two.size()));
    EXPECT_FALSE(FileSrvLoadDictionary((dir.path() + L"missing.txt").c_str()));
    EXPECT_FALSE(FileSrvLoadDictionary(nullptr));
    EXPECT_TRUE(FileSrvLoadDictionary(first.c_str()));
    EXPECT_TRUE(FileSrvLoadDictionary(second.c_str()));
    EXPECT_EQ(FileDictionaryLookup("a.swf"), 1u);
    EXPECT_EQ(FileDictionaryLookup("b.swf"), 2u);
    EXPECT_EQ(FileDictionaryLookup("c.swf"), 3u);
    EXPECT_EQ(FileDictionarySize(), 3u);
    // An empty file is a dictionary without records.
    ASSERT_TRUE(WriteFileBytes(first, "", 0));
    EXPECT_TRUE(FileSrvLoadDictionary(first.c_str()));
}

// Keeps the last log line in a buffer of its own: it is written while allocations fail.
class LastLogLine {
public:
    LastLogLine() {
        line_[0] = L'\0';
        ravlib::SetLogSink(Keep);
    }
    ~LastLogLine() { ravlib::SetLogSink(nullptr); }
    LastLogLine(const LastLogLine&) = delete;
    LastLogLine& operator=(const LastLogLine&) = delete;
    std::wstring text() const { return line_; }

private:
    static int Keep(int, const wchar_t* text, int length) {
        wcsncpy(line_, text, kChars - 1);
        line_[kChars - 1] = L'\0';
        return length;
    }
    static const size_t kChars = 256;
    static inline wchar_t line_[kChars];
};

// A dictionary file whose names do not fit in memory is refused with a log line, and the
// dictionary keeps what an earlier file gave it.
TEST_F(DictionaryTest, AFileThatRunsOutOfMemoryIsRefusedAndLeavesTheDictionaryAsItWas) {
    const std::wstring first = dir.path() + L"hashdict.txt";
    const std::wstring large = dir.path() + L"large.txt";
    const std::string one = DictionaryRecord("a.swf", 1);
    std::string many;
    for (int i = 0; i < 1000; ++i) many += DictionaryRecord("res/" + std::to_string(i) + ".swf", static_cast<uint32_t>(i));
    ASSERT_TRUE(WriteFileBytes(first, one.data(), one.size()));
    ASSERT_TRUE(WriteFileBytes(large, many.data(), many.size()));
    ASSERT_TRUE(FileSrvLoadDictionary(first.c_str()));

    LastLogLine log;
    bool loaded;
    {
        testing_support::FailingAllocations failing(500, 0);
        loaded = FileSrvLoadDictionary(large.c_str());
    }
    EXPECT_FALSE(loaded);
    EXPECT_NE(log.text().find(L"dictionary: no memory"), std::wstring::npos) << log.text();
    EXPECT_EQ(FileDictionarySize(), 1u);
    EXPECT_EQ(FileDictionaryLookup("a.swf"), 1u);
    EXPECT_FALSE(FileDictionaryContains("res/0.swf"));

    EXPECT_TRUE(FileSrvLoadDictionary(large.c_str()));
    EXPECT_EQ(FileDictionarySize(), 1001u);
}

// Truncated, oversized and garbage dictionary files: the load never crashes, never
// reads outside the file and keeps only names of at most 127 bytes.
TEST_F(DictionaryTest, RandomDamagedFilesLoadWithoutHarm) {
    std::mt19937 random(20261210);
    const std::wstring path = dir.path() + L"hashdict.txt";
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        const int records = static_cast<int>(random() % 40);
        for (int i = 0; i < records; ++i) {
            std::string name(random() % 128, 'x');
            for (char& ch : name) ch = static_cast<char>(random());
            bytes += DictionaryRecord(name, random());
        }
        switch (round % 4) {
        case 0:  // truncated anywhere
            bytes.resize(bytes.empty() ? 0 : random() % bytes.size());
            break;
        case 1:  // a length byte that claims far more than is there
            bytes += static_cast<char>(0x7F);
            bytes += "short";
            break;
        case 2:  // garbage
            bytes.assign(random() % 4096, '\0');
            for (char& ch : bytes) ch = static_cast<char>(random());
            break;
        default:  // bytes flipped in valid records
            for (int i = 0; i < 5 && !bytes.empty(); ++i)
                bytes[random() % bytes.size()] = static_cast<char>(random());
        }
        ASSERT_TRUE(WriteFileBytes(path, bytes.data(), bytes.size()));
        FileDictionaryClear();
        ASSERT_TRUE(FileSrvLoadDictionary(path.c_str()));
        EXPECT_LE(FileDictionarySize(), bytes.size() / 5);
    }
}

class CheckValueTest : public ::testing::Test {
protected:
    void SetUp() override { FileSrvSetSuffixes(L"cbp,swf,zip,txt,dat"); }
    void TearDown() override { FileSrvClearSuffixes(); }
    std::wstring Put(const std::wstring& name, const std::string& content) {
        const std::wstring path = dir.path() + name;
        EXPECT_TRUE(WriteFileBytes(path, content.data(), content.size()));
        return path;
    }
    TempDir dir;
};

TEST_F(CheckValueTest, ListedByCrcOfPlainContentOthersBySize) {
    std::string big(5000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 3);
    const std::string small = "0123456789";  // two whole words and two bytes
    struct Case {
        const wchar_t* name;
        std::string content;
        uint32_t expected;
    } cases[] = {
        {L"a.swf", big, Crc(big)},
        {L"b.wf", small, Crc(small)},  // "wf" lies inside "swf"
        {L"c.png", big, 5000u},
        {L"d.SWF", small, 10u},  // letter case counts
        {L"noext", big, 0u},
        {L"e.png", "", 0u},
        {L"f.txt", "", 0u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8FromWide(c.name));
        const std::wstring plain = Put(std::wstring(L"p_") + c.name, c.content);
        const std::wstring scrambled = Put(std::wstring(L"s_") + c.name, Scrambled(c.content));
        EXPECT_EQ(FileSrvCheckValue(plain.c_str(), nullptr, 0, false), c.expected);
        EXPECT_EQ(FileSrvCheckValue(scrambled.c_str(), nullptr, 0, true), c.expected);
        if (!c.content.empty()) {
            EXPECT_EQ(FileSrvCheckValue(c.name, c.content.data(), c.content.size(), false), c.expected);
        }
        uint32_t value = 0xDEADBEEF;
        EXPECT_TRUE(CheckValueOfFile(scrambled.c_str(), true, &value));
        EXPECT_EQ(value, c.expected);
    }
    EXPECT_EQ(FileSrvCheckValue(nullptr, "x", 1, false), 0u);
}

TEST_F(CheckValueTest, AFileThatCannotBeOpenedHasNoCheckValue) {
    const std::wstring path = Put(L"held", "");
    const std::wstring listed = Put(L"held.swf", "abc");
    uint32_t value = 0;
    EXPECT_TRUE(CheckValueOfFile(path.c_str(), true, &value));  // no "." and readable: 0
    {
        // Created without sharing, as the cache writer holds a file it is writing.
        ravlib::stream::CFileStream writer(path.c_str(), ravlib::stream::kStreamModeCreate);
        ravlib::stream::CFileStream listedWriter(listed.c_str(), ravlib::stream::kStreamModeCreate);
        ASSERT_TRUE(writer.IsOpen() && listedWriter.IsOpen());
        value = 0xDEADBEEF;
        EXPECT_FALSE(CheckValueOfFile(path.c_str(), true, &value));
        EXPECT_FALSE(CheckValueOfFile(listed.c_str(), true, &value));
        EXPECT_EQ(value, 0xDEADBEEFu);
    }
    EXPECT_FALSE(CheckValueOfFile((dir.path() + L"missing.swf").c_str(), true, &value));
    EXPECT_FALSE(CheckValueOfFile(dir.path().c_str(), true, &value));  // a directory
}

TEST_F(CheckValueTest, SaveFileCreatesOrTruncates) {
    const std::wstring path = dir.path() + L"hashdict.txt";
    ASSERT_TRUE(FileSrvSaveFile(path.c_str(), "long content", 12));
    ASSERT_TRUE(FileSrvSaveFile(path.c_str(), "ab", 2));
    EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'a', 'b'}));
    ASSERT_TRUE(FileSrvSaveFile(path.c_str(), nullptr, 0));
    EXPECT_TRUE(ReadFileBytes(path).empty());
    EXPECT_FALSE(FileSrvSaveFile((dir.path() + L"no\\such\\dir.txt").c_str(), "x", 1));
}

}  // namespace
