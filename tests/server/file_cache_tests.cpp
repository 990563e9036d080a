// The resource dictionary file, check values of cached files, saving and the names
// that may be joined to the cache directory. Real files in a temporary directory.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>

#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "ravlib/stream.h"
#include "server/file_cache.h"
#include "server/dictionary_file.h"
#include "server/file_dictionary.h"
#include "server/scramble.h"
#include "server/suffix_list.h"
#include "support/test_support.h"

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

std::string Record(const std::string& name, uint32_t value) {
    std::string bytes(1, static_cast<char>(name.size()));
    bytes += name;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

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
    const std::string complete = Record("res/a.swf", 0x11223344) + Record("b", 7) +
                                 Record("res/a.swf", 99) + Record("", 5);
    struct Case {
        const char* what;
        std::string tail;
    } cases[] = {
        {"nothing behind", ""},
        {"value cut", Record("cut.txt", 1).substr(0, 10)},
        {"name cut", Record("cut.txt", 1).substr(0, 4)},
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
    const std::string bytes = Record(high, 3) + std::string(1, '\x80') + Record("after", 4);
    DictionaryReadEnd end;
    EXPECT_EQ(FileDictionaryAddRecords(Bytes(bytes), bytes.size(), &end), 1u);
    EXPECT_EQ(end.reason, kDictionaryBadNameLength);
    EXPECT_EQ(end.offset, Record(high, 3).size());
    EXPECT_EQ(FileDictionaryLookup(high.c_str()), 3u);
    EXPECT_FALSE(FileDictionaryContains("after"));
}

TEST_F(DictionaryTest, LoadFromFileAddsToWhatIsThere) {
    const std::wstring first = dir.path() + L"hashdict.txt";
    const std::wstring second = dir.path() + L"more.txt";
    const std::string one = Record("a.swf", 1) + Record("b.swf", 2);
    const std::string two = Record("a.swf", 100) + Record("c.swf", 3) + "\x05" "ab";
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
            bytes += Record(name, random());
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
