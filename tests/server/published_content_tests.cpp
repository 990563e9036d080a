// What the content publisher writes, read with the launcher's own code: the game frame
// decrypts to the movie, the dictionary archive holds the dictionary, the dictionary
// lists every resource with the check value the file service computes for its cached
// copy, and the hash key carries the check values the update dialog compares.
//
// The fixture (tests/server/published_fixture.py, run at build time) publishes a plain
// movie and resources with the demo package's settings.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "server/file_cache.h"
#include "server/dictionary_file.h"
#include "server/file_dictionary.h"
#include "server/scramble.h"
#include "server/suffix_list.h"
#include "support/test_support.h"
#include "zip/zip_reader.h"

namespace {

using namespace testing_support;

typedef std::vector<uint8_t> Bytes;

// The demo package's settings, which the fixture was published with.
const char kAesKey[] = "DemoFrameKey2024";
const wchar_t kSuffixes[] = L"cbp,swf,zip,txt,dat";

std::wstring Plain(const std::wstring& name) { return FixturePath(L"published_content/plain/" + name); }
std::wstring Published(const std::wstring& name) {
    return FixturePath(L"published_content/published/" + name);
}

std::wstring WindowsName(const std::string& name) {
    std::wstring wide = WideFromUtf8(name);
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    return wide;
}

std::vector<std::string> ResourceNames() {
    const Bytes list = ReadFileBytes(FixturePath(L"published_content/names.txt"));
    std::vector<std::string> names;
    std::string line;
    for (uint8_t c : list) {
        if (c == '\n') {
            if (!line.empty()) names.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    return names;
}

class PublishedContentTest : public ::testing::Test {
protected:
    void SetUp() override {
        FileSrvSetSuffixes(kSuffixes);
        FileDictionaryClear();
    }
    void TearDown() override {
        FileDictionaryClear();
        FileSrvClearSuffixes();
    }
};

TEST_F(PublishedContentTest, GameFrameDecryptsToTheMovie) {
    const Bytes frame = ReadFileBytes(Published(L"GameFrame.dat"));
    const Bytes movie = ReadFileBytes(Plain(L"movie.swf"));
    ASSERT_FALSE(movie.empty());
    ASSERT_EQ(frame.size(), movie.size());
    ASSERT_NE(movie.size() % 16, 0u) << "the fixture should leave a tail after the blocks";
    EXPECT_NE(frame, movie);

    // As the game window does it: an output buffer with room to spare.
    Bytes output(frame.size() + 200, 0xEE);
    ASSERT_EQ(DecryptGameFrame(frame.data(), static_cast<int>(frame.size()), kAesKey, output.data()),
              static_cast<int>(frame.size()));
    output.resize(frame.size());
    EXPECT_EQ(output, movie);

    Bytes wrongKey(frame.size());
    DecryptGameFrame(frame.data(), static_cast<int>(frame.size()), "AnotherFrameKey1", wrongKey.data());
    EXPECT_NE(wrongKey, movie);
}

TEST_F(PublishedContentTest, ArchiveHoldsTheDictionaryUnderItsName) {
    const Bytes archive = ReadFileBytes(Published(L"hashdict.zip"));
    const Bytes dictionary = ReadFileBytes(Published(L"hashdict.txt"));
    ASSERT_FALSE(archive.empty());
    ZipHandle* zip = OpenZip(archive.data(), static_cast<uint32_t>(archive.size()), ZipFromMemory);
    ASSERT_NE(zip, nullptr);
    int32_t index = -1;
    ZipItemInfoW info = {};
    // The update dialog looks the item up with letter case ignored.
    ASSERT_EQ(LocateZipItemW(zip, L"HASHDICT.TXT", true, &index, &info), ZR_OK);
    ASSERT_EQ(info.uncompressedSize, static_cast<int32_t>(dictionary.size()));
    Bytes extracted(dictionary.size());
    EXPECT_EQ(ExtractZipItem(zip, index, extracted.data(), static_cast<uint32_t>(extracted.size()), ZipFromMemory),
              ZR_OK);
    ReleaseZip(zip);
    EXPECT_EQ(extracted, dictionary);
}

TEST_F(PublishedContentTest, DictionaryListsEveryResourceWithTheValueOfItsCachedCopy) {
    const std::vector<std::string> names = ResourceNames();
    ASSERT_FALSE(names.empty());
    ASSERT_TRUE(FileSrvLoadDictionary(Published(L"hashdict.txt").c_str()));
    EXPECT_EQ(FileDictionarySize(), names.size());

    TempDir cache;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        SCOPED_TRACE(name);
        const std::wstring local = WindowsName(name);
        const Bytes plain = ReadFileBytes(Plain(L"res/" + local));
        EXPECT_EQ(ReadFileBytes(Published(local)), plain) << "published copy differs";
        ASSERT_TRUE(FileDictionaryContains(name.c_str()));

        // The copy the file service would keep: the first 256 bytes scrambled. It is a
        // cache hit exactly when its check value equals the dictionary's.
        Bytes cached = plain;
        ScrambleWords(cached.data(), cached.size() < 256 ? cached.size() : 256);
        // Only the extension decides how the check value is computed.
        const std::wstring path = cache.path() + L"r" + std::to_wstring(i) + local.substr(local.rfind(L'.'));
        ASSERT_TRUE(WriteFileBytes(path, cached.data(), cached.size()));
        EXPECT_EQ(FileSrvCheckValue(path.c_str(), nullptr, 0, true), FileDictionaryLookup(name.c_str()));
    }
}

TEST_F(PublishedContentTest, HashKeyCarriesTheCheckValuesOfFrameAndDictionary) {
    Bytes text = ReadFileBytes(Published(L"hashkey.txt"));
    ASSERT_FALSE(text.empty());
    text.push_back(0);
    // Read as the update dialog reads it: the first number before the space, then the
    // digits after the spaces, each compared by its low 32 bits.
    const char* body = reinterpret_cast<const char*>(text.data());
    const char* space = strchr(body, ' ');
    ASSERT_NE(space, nullptr);
    const uint32_t frameValue = static_cast<uint32_t>(_atoi64(body));
    const uint32_t dictionaryValue = static_cast<uint32_t>(_atoi64(space + strspn(space, " ")));

    EXPECT_EQ(frameValue, FileSrvCheckValue(Published(L"GameFrame.dat").c_str(), nullptr, 0, false));
    EXPECT_EQ(dictionaryValue, FileSrvCheckValue(Published(L"hashdict.txt").c_str(), nullptr, 0, false));
    // Both names carry listed extensions, so these are CRC-32 values, not sizes.
    EXPECT_NE(frameValue, ReadFileBytes(Published(L"GameFrame.dat")).size());
}

}  // namespace
