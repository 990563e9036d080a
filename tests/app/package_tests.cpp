// The package appended to an executable: finding it, reading the configuration and the
// images out of it, and surviving broken packages.
#include <gtest/gtest.h>

#include <ole2.h>
#include <gdiplus.h>
#include <psapi.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "app/launcher_config.h"
#include "framework/image.h"
#include "message_recorder.h"
#include "support/test_support.h"

using testing_support::FixturePath;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

class GdiplusSession : public ::testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token_, &input, nullptr);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};

::testing::Environment* const gdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusSession);

// A minimal image header: one section whose raw data ends at 0x200, so that a package
// appended at 0x200 is found.
std::vector<uint8_t> MinimalImage() {
    std::vector<uint8_t> image(0x200, 0);
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3C] = 0x40;
    memcpy(&image[0x40], "PE\0\0", 4);
    image[0x40 + 6] = 1;  // one section
    // SizeOfOptionalHeader stays 0: the section table follows the file header.
    uint8_t* section = &image[0x40 + 24];
    section[16] = 0x00;  // SizeOfRawData 0x100
    section[17] = 0x01;
    section[20] = 0x00;  // PointerToRawData 0x100
    section[21] = 0x01;
    return image;
}

std::vector<uint8_t> PackageOf(const std::vector<uint8_t>& exe) {
    uint64_t offset = 0;
    if (!FindPackageOffset(exe.data(), exe.size(), &offset) || offset > exe.size()) return {};
    return std::vector<uint8_t>(exe.begin() + static_cast<long>(offset), exe.end());
}

TEST(Package, GoodPackageReadsBack) {
    LauncherConfig config;
    RecordMessagesOf(config);
    ASSERT_TRUE(config.OpenPackageFile(FixturePath(L"app\\good.exe").c_str()));
    ASSERT_TRUE(config.LoadIniText("config/cg.txt"));
    ASSERT_TRUE(config.ReadSettings());
    EXPECT_TRUE(RecordedMessages().empty());

    const LauncherSettings& s = config.settings();
    EXPECT_STREQ(config.gameheader(), "client://loadgame|");
    EXPECT_STREQ(s.title, "测试游戏");
    EXPECT_STREQ(s.initname, "测试启动器");
    EXPECT_STREQ(s.firstUrl, "");
    EXPECT_EQ(s.titlex, 30);
    EXPECT_EQ(s.titleColor, 0u);
    EXPECT_EQ(s.port, 0);
    EXPECT_STREQ(s.from, "site");
    EXPECT_STREQ(s.server, "127.0.0.1");
    EXPECT_STREQ(s.spid, "tarn/chn1");
    EXPECT_STREQ(s.suffix, "cbp,swf");
    EXPECT_STREQ(s.closeMsg, "确定退出吗? ;not a comment");
    EXPECT_EQ(s.connectPort, 9898);
    EXPECT_EQ(config.edgeImages()[2], 4);
    EXPECT_EQ(config.edgeImages()[3], 9);
    EXPECT_EQ(config.tipMessages()[1], "正在更新");

    ASSERT_EQ(config.links().size(), 2u);
    const LinkEntry& link = config.links()[0];
    EXPECT_STREQ(link.url, "http://127.0.0.1:8080/reg");
    EXPECT_EQ(link.x, 10);
    EXPECT_EQ(link.height, 24);
    EXPECT_EQ(link.type, 1);
    EXPECT_STREQ(config.links()[1].url, "_blank");

    ASSERT_EQ(config.gamePics().size(), 1u);
    EXPECT_EQ(config.gamePics()[0].count, 6);
    ASSERT_EQ(config.gameButtons().size(), 1u);
    const GameButtonEntry& button = config.gameButtons()[0];
    EXPECT_EQ(button.x, -28);
    EXPECT_EQ(button.type, 7);
    EXPECT_EQ(button.image, 2);
    EXPECT_EQ(std::string(button.title), "0123456789012345678901234567890");
    EXPECT_STREQ(button.tips, "提示");
    EXPECT_EQ(button.color, 255u);
    ASSERT_EQ(config.menus().size(), 1u);
    EXPECT_STREQ(config.menus()[0].title, "清除缓存");
    EXPECT_EQ(config.menus()[0].type, 3);
}

TEST(Package, ImagesComeOutOfThePackage) {
    LauncherConfig config;
    RecordMessagesOf(config);
    ASSERT_TRUE(config.OpenPackageFile(FixturePath(L"app\\good.exe").c_str()));

    CImage image;
    ASSERT_TRUE(config.LoadPackageImage("config/main1.png", image));
    EXPECT_GT(image.GetWidth(), 0);
    EXPECT_GT(image.GetHeight(), 0);
    EXPECT_TRUE(image.HasAlphaChannel());

    Gdiplus::Bitmap* bitmap = nullptr;
    ASSERT_TRUE(config.LoadPackageBitmap("config/main1.png", &bitmap));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(static_cast<int>(bitmap->GetWidth()), image.GetWidth());
    EXPECT_EQ(static_cast<int>(bitmap->GetHeight()), image.GetHeight());
    // The same pixel decodes the same both ways.
    Gdiplus::Color color;
    bitmap->GetPixel(image.GetWidth() / 2, image.GetHeight() / 2, &color);
    EXPECT_EQ(RGB(color.GetR(), color.GetG(), color.GetB()),
              image.GetPixel(image.GetWidth() / 2, image.GetHeight() / 2));
    delete bitmap;
    EXPECT_TRUE(RecordedMessages().empty());

    // Names match exactly: letter case counts.
    CImage other;
    EXPECT_FALSE(config.LoadPackageImage("config/MAIN1.png", other));
    EXPECT_TRUE(other.IsNull());
    // A package entry that is not a picture.
    EXPECT_FALSE(config.LoadPackageBitmap("config/cg.txt", &bitmap));
    EXPECT_EQ(bitmap, nullptr);
    ASSERT_EQ(RecordedMessages().size(), 2u);
    for (const RecordedMessage& m : RecordedMessages()) {
        EXPECT_EQ(m.text, L"读取图片失败");
        EXPECT_EQ(m.caption, L"启动失败");
    }
}

TEST(Package, FailuresSayWhatIsWrong) {
    TempDir temp;
    std::vector<uint8_t> good = ReadFileBytes(FixturePath(L"app\\good.exe"));
    ASSERT_FALSE(good.empty());
    std::vector<uint8_t> package = PackageOf(good);
    ASSERT_FALSE(package.empty());
    std::vector<uint8_t> plain(good.begin(), good.end() - static_cast<long>(package.size()));
    std::vector<uint8_t> garbage = plain;
    garbage.insert(garbage.end(), 5000, 0x5A);

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const wchar_t* message;
    } cases[] = {
        {"plain", plain, L"没有附加配置文件,请打包配置文件"},
        {"garbage", garbage, L"OpenZip失败"},
        {"headers", std::vector<uint8_t>(good.begin(), good.begin() + 0x50), L"没有附加配置文件,请打包配置文件"},
        {"not an image", std::vector<uint8_t>(100, 'x'), L"没有附加配置文件,请打包配置文件"},
    };
    for (const Case& c : cases) {
        std::wstring path = temp.path() + L"case.exe";
        ASSERT_TRUE(WriteFileBytes(path, c.bytes.data(), c.bytes.size()));
        LauncherConfig config;
        RecordMessagesOf(config);
        EXPECT_FALSE(config.OpenPackageFile(path.c_str())) << c.name;
        ASSERT_EQ(RecordedMessages().size(), 1u) << c.name;
        EXPECT_EQ(RecordedMessages()[0].text, c.message) << c.name;
        EXPECT_EQ(RecordedMessages()[0].caption, L"启动失败");
    }

    LauncherConfig missing;
    RecordMessagesOf(missing);
    EXPECT_FALSE(missing.OpenPackageFile((temp.path() + L"absent.exe").c_str()));
    EXPECT_TRUE(RecordedMessages().empty());

    LauncherConfig noIni;
    RecordMessagesOf(noIni);
    ASSERT_TRUE(noIni.OpenPackageFile(FixturePath(L"app\\good.exe").c_str()));
    EXPECT_FALSE(noIni.LoadIniText("config/other.txt"));
    ASSERT_EQ(RecordedMessages().size(), 1u);
    EXPECT_EQ(RecordedMessages()[0].text, L"读取ini文件失败");
}

TEST(Package, OffsetComesFromTheLastSectionHeader) {
    std::vector<uint8_t> image = MinimalImage();
    uint64_t offset = 0;
    ASSERT_TRUE(FindPackageOffset(image.data(), image.size(), &offset));
    EXPECT_EQ(offset, 0x200u);
    // The optional header's declared size moves the section table.
    image[0x40 + 20] = 0xF0;  // a PE32+ optional header
    image[0x40 + 24 + 0xF0 + 16] = 0x10;
    image[0x40 + 24 + 0xF0 + 20] = 0x20;
    ASSERT_TRUE(FindPackageOffset(image.data(), image.size(), &offset));
    EXPECT_EQ(offset, 0x30u);
    // Headers that point outside the file are refused, not read.
    image[0x40 + 6] = 0xFF;
    EXPECT_FALSE(FindPackageOffset(image.data(), image.size(), &offset));
    image[0x3C] = 0xF0;
    image[0x3D] = 0xFF;
    EXPECT_FALSE(FindPackageOffset(image.data(), image.size(), &offset));
    EXPECT_FALSE(FindPackageOffset(image.data(), 0x30, &offset));
}

// One item of an archive as the package tool stores it: deflated, with the CRC-32 and
// size of its bytes.
struct ZipItem {
    std::string name;
    std::vector<uint8_t> packed;
    uint32_t crc = 0;
    uint32_t size = 0;
};

// Deflates size bytes of data (level 9, raw), or size zero bytes when data is null (fed
// a mebibyte at a time, so that large items cost little memory).
ZipItem DeflatedItem(const std::string& name, const uint8_t* data, uint32_t size) {
    ZipItem item;
    item.name = name;
    item.size = size;
    z_stream stream = {};
    EXPECT_EQ(Z_OK, deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY));
    std::vector<uint8_t> zeros(data ? 0 : 1u << 20, 0);
    std::vector<uint8_t> out(1u << 16);
    uint32_t done = 0;
    item.crc = crc32(0, nullptr, 0);
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        const uint32_t left = size - done;
        const uint32_t take = data || left < zeros.size() ? left : static_cast<uint32_t>(zeros.size());
        const uint8_t* chunk = data ? data + done : zeros.data();
        item.crc = crc32(item.crc, chunk, take);
        done += take;
        stream.next_in = const_cast<uint8_t*>(chunk);
        stream.avail_in = take;
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            status = deflate(&stream, done == size ? Z_FINISH : Z_NO_FLUSH);
            item.packed.insert(item.packed.end(), out.data(), out.data() + (out.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return item;
}

// A ZIP archive of the items, laid out as the package tool writes one.
std::vector<uint8_t> ArchiveOf(const std::vector<ZipItem>& items) {
    std::vector<uint8_t> archive;
    auto put = [&archive](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) archive.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    auto sizes = [&put](const ZipItem& item) {
        put(item.crc, 4);
        put(static_cast<uint32_t>(item.packed.size()), 4);
        put(item.size, 4);
        put(static_cast<uint32_t>(item.name.size()), 2);
    };
    std::vector<uint32_t> offsets;
    for (const ZipItem& item : items) {
        offsets.push_back(static_cast<uint32_t>(archive.size()));
        put(0x04034b50, 4);
        put(20, 2), put(0, 2), put(Z_DEFLATED, 2), put(0, 4);
        sizes(item);
        put(0, 2);
        archive.insert(archive.end(), item.name.begin(), item.name.end());
        archive.insert(archive.end(), item.packed.begin(), item.packed.end());
    }
    const uint32_t directoryAt = static_cast<uint32_t>(archive.size());
    for (size_t i = 0; i < items.size(); ++i) {
        put(0x02014b50, 4);
        put(20, 2), put(20, 2), put(0, 2), put(Z_DEFLATED, 2), put(0, 4);
        sizes(items[i]);
        put(0, 2), put(0, 2), put(0, 2), put(0, 2), put(0, 4), put(offsets[i], 4);
        archive.insert(archive.end(), items[i].name.begin(), items[i].name.end());
    }
    const uint32_t directorySize = static_cast<uint32_t>(archive.size()) - directoryAt;
    const uint32_t count = static_cast<uint32_t>(items.size());
    put(0x06054b50, 4);
    put(0, 2), put(0, 2), put(count, 2), put(count, 2);
    put(directorySize, 4);
    put(directoryAt, 4);
    put(0, 2);
    return archive;
}

size_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

// A configuration text of 64 MiB and one byte, plausible to the zip reader (honest deflate
// data), is refused as unreadable before anything is allocated for it.
TEST(Package, AnEntryBeyondSixtyFourMebibytesIsRefusedInBoundedMemory) {
    std::vector<uint8_t> exe = MinimalImage();
    const std::vector<uint8_t> package = ArchiveOf({DeflatedItem("config/cg.txt", nullptr, (64u << 20) + 1)});
    exe.insert(exe.end(), package.begin(), package.end());
    TempDir temp;
    const std::wstring path = temp.path() + L"big.exe";
    ASSERT_TRUE(WriteFileBytes(path, exe.data(), exe.size()));

    const size_t before = PeakWorkingSet();
    LauncherConfig config;
    RecordMessagesOf(config);
    ASSERT_TRUE(config.OpenPackageFile(path.c_str()));
    EXPECT_FALSE(config.LoadIniText("config/cg.txt"));
    const size_t after = PeakWorkingSet();
    printf("peak working set %zu -> %zu MB\n", before >> 20, after >> 20);
    ASSERT_EQ(1u, RecordedMessages().size());
    EXPECT_EQ(L"读取ini文件失败", RecordedMessages()[0].text);
    EXPECT_LT(after - before, 32u << 20);
}

// The messages a user may be shown for a package: which ones each step may give.
const wchar_t* const kOpenMessages[] = {L"没有附加配置文件,请打包配置文件", L"OpenZip失败"};
const wchar_t* const kIniMessages[] = {L"读取ini文件失败", L"装载ini文件失败"};
const wchar_t* const kSettingsMessages[] = {L"len error", L"装载ini文件失败"};
const wchar_t* const kImageMessages[] = {L"读取图片失败"};

// What one step showed: nothing, or exactly one of the messages it may give (with the
// caption of every start-up failure but "len error", which brings its own).
template <size_t N>
void ExpectAtMostOneOf(const wchar_t* const (&allowed)[N], const char* step) {
    const std::vector<RecordedMessage>& shown = RecordedMessages();
    ASSERT_LE(shown.size(), 1u) << step;
    if (shown.empty()) return;
    bool known = false;
    for (const wchar_t* text : allowed) known = known || shown[0].text == text;
    EXPECT_TRUE(known) << step;
    EXPECT_EQ(shown[0].caption, shown[0].text == L"len error" ? L"load fail" : L"启动失败") << step;
}

// What a launcher takes from a package it has opened: its settings and one image. Each
// step ends in a result or a message it may give; a result is a usable one.
struct PackageOutcome {
    bool iniLoaded = false;
    bool settingsRead = false;
    bool imageLoaded = false;
    bool bitmapLoaded = false;
    std::wstring iniMessage;    // what LoadIniText showed
    std::wstring imageMessage;  // what LoadPackageImage showed
};

PackageOutcome ReadWhatTheLauncherReads(LauncherConfig& config, const char* imageName) {
    PackageOutcome outcome;
    RecordedMessages().clear();
    outcome.iniLoaded = config.LoadIniText("config/cg.txt");
    ExpectAtMostOneOf(kIniMessages, "LoadIniText");
    EXPECT_EQ(RecordedMessages().empty(), outcome.iniLoaded);
    if (!RecordedMessages().empty()) outcome.iniMessage = RecordedMessages()[0].text;
    if (outcome.iniLoaded) {
        RecordedMessages().clear();
        outcome.settingsRead = config.ReadSettings();
        ExpectAtMostOneOf(kSettingsMessages, "ReadSettings");
        if (outcome.settingsRead) {
            EXPECT_TRUE(RecordedMessages().empty());
            EXPECT_FALSE(config.links().empty());
            EXPECT_EQ(strlen(config.settings().aesKey), 16u);
        }
    }
    RecordedMessages().clear();
    CImage image;
    outcome.imageLoaded = config.LoadPackageImage(imageName, image);
    ExpectAtMostOneOf(kImageMessages, "LoadPackageImage");
    if (!RecordedMessages().empty()) outcome.imageMessage = RecordedMessages()[0].text;
    if (outcome.imageLoaded) {
        EXPECT_GT(image.GetWidth(), 0);
        EXPECT_GT(image.GetHeight(), 0);
    }
    RecordedMessages().clear();
    Gdiplus::Bitmap* bitmap = nullptr;
    outcome.bitmapLoaded = config.LoadPackageBitmap(imageName, &bitmap);
    ExpectAtMostOneOf(kImageMessages, "LoadPackageBitmap");
    EXPECT_EQ(RecordedMessages().empty(), outcome.bitmapLoaded);
    EXPECT_EQ(bitmap != nullptr, outcome.bitmapLoaded);
    if (bitmap) {
        EXPECT_GT(bitmap->GetWidth(), 0u);
        EXPECT_GT(bitmap->GetHeight(), 0u);
        delete bitmap;
    }
    return outcome;
}

std::wstring WriteLauncher(const TempDir& temp, const std::vector<uint8_t>& package) {
    std::vector<uint8_t> exe = MinimalImage();
    exe.insert(exe.end(), package.begin(), package.end());
    const std::wstring path = temp.path() + L"fuzz.exe";
    EXPECT_TRUE(WriteFileBytes(path, exe.data(), exe.size()));
    return path;
}

// Truncated packages and packages with damaged bytes (mostly stopped by the zip reader
// and its checksums): each ends in a result or the message for its step.
TEST(Package, DamagedArchivesEndInAResultOrAMessage) {
    std::vector<uint8_t> package = PackageOf(ReadFileBytes(FixturePath(L"app\\good.exe")));
    ASSERT_FALSE(package.empty());
    TempDir temp;
    std::mt19937 random(20261209);
    int opened = 0;
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        std::vector<uint8_t> mutated = package;
        switch (round % 3) {
            case 0:
                mutated.resize(random() % (mutated.size() + 1));
                break;
            case 1:
                for (int i = 0; i < 1 + static_cast<int>(random() % 16); ++i)
                    mutated[random() % mutated.size()] = static_cast<uint8_t>(random());
                break;
            default: {
                // Damage the directory at the end, where the reader starts.
                size_t tail = mutated.size() < 400 ? mutated.size() : 400;
                for (int i = 0; i < 4; ++i)
                    mutated[mutated.size() - 1 - random() % tail] = static_cast<uint8_t>(random());
            }
        }
        const std::wstring path = WriteLauncher(temp, mutated);
        LauncherConfig config;
        RecordMessagesOf(config);
        const bool open = config.OpenPackageFile(path.c_str());
        ExpectAtMostOneOf(kOpenMessages, "OpenPackageFile");
        EXPECT_EQ(RecordedMessages().empty(), open);
        if (!open) continue;
        ++opened;
        ReadWhatTheLauncherReads(config, "config/main1.png");
    }
    printf("[ figures  ] %d of 150 damaged archives opened\n", opened);
}

// The names of an archive's items, from its central directory.
std::vector<std::string> ItemNames(const std::vector<uint8_t>& archive) {
    std::vector<std::string> names;
    if (archive.size() < 22) return names;
    const uint8_t* end = archive.data() + archive.size() - 22;
    auto u16 = [](const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); };
    auto u32 = [&u16](const uint8_t* p) { return u16(p) | u16(p + 2) << 16; };
    if (u32(end) != 0x06054b50) return names;
    size_t at = u32(end + 16);
    for (uint32_t n = u16(end + 10); n > 0 && at + 46 <= archive.size(); --n) {
        const uint8_t* entry = archive.data() + at;
        const size_t nameLength = u16(entry + 28);
        if (u32(entry) != 0x02014b50 || at + 46 + nameLength > archive.size()) break;
        names.emplace_back(reinterpret_cast<const char*>(entry + 46), nameLength);
        at += 46 + nameLength + u16(entry + 30) + u16(entry + 32);
    }
    return names;
}

void MutateText(std::mt19937& random, std::vector<uint8_t>& text) {
    for (int i = 0; i < 1 + static_cast<int>(random() % 8); ++i) {
        const size_t at = random() % (text.size() + 1);
        switch (random() % 4) {
            case 0: {
                const uint8_t bytes[] = {'\n', '=', '[', ']', ';', 0, 0xE7, static_cast<uint8_t>(random())};
                text.insert(text.begin() + static_cast<long>(at), bytes[random() % sizeof bytes]);
                break;
            }
            case 1: {  // a number far beyond any field
                const char* numbers[] = {"99999999999999999999", "-2147483649", "4294967296", "0x7FFFFFFF", "-"};
                const char* number = numbers[random() % 5];
                text.insert(text.begin() + static_cast<long>(at), number, number + strlen(number));
                break;
            }
            case 2:  // a line repeated
                if (at < text.size()) {
                    const std::vector<uint8_t> line(text.begin() + static_cast<long>(at),
                                                    text.begin() + static_cast<long>(std::min(text.size(), at + 40)));
                    text.insert(text.begin() + static_cast<long>(at), line.begin(), line.end());
                }
                break;
            default:
                if (at < text.size()) text.erase(text.begin() + static_cast<long>(at));
        }
    }
    if (random() % 4 == 0) text.resize(random() % (text.size() + 1));
}

// PNG chunk checksums made right again after a mutation, so that a changed header or
// pixel data reaches the decoder instead of failing its first check.
void FixPngChecksums(std::vector<uint8_t>& png) {
    size_t at = 8;
    while (png.size() >= 8 && at + 12 <= png.size()) {
        const uint32_t length = static_cast<uint32_t>(png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3]);
        if (length > png.size() - at - 12) return;
        const uint32_t crc = crc32(0, &png[at + 4], length + 4);
        uint8_t* out = &png[at + 8 + length];
        out[0] = static_cast<uint8_t>(crc >> 24), out[1] = static_cast<uint8_t>(crc >> 16);
        out[2] = static_cast<uint8_t>(crc >> 8), out[3] = static_cast<uint8_t>(crc);
        at += 12 + length;
    }
}

void MutateImage(std::mt19937& random, std::vector<uint8_t>& image) {
    if (image.empty()) return;
    switch (random() % 4) {
        case 0:  // the header's width and height (a PNG's IHDR)
            for (size_t at = 16; at < 24 && at < image.size(); ++at)
                if (random() % 2) image[at] = static_cast<uint8_t>(random());
            break;
        case 1:
            image.resize(random() % image.size());
            break;
        default:
            for (int i = 0; i < 1 + static_cast<int>(random() % 16); ++i)
                image[random() % image.size()] = static_cast<uint8_t>(random());
    }
    if (random() % 4 != 0) FixPngChecksums(image);
}

// Packages whose configuration text and images are mutated and then packed as the
// package tool packs them, checksums right: the texts reach the INI parser and the
// settings rules, the images GDI+. Each ends in a result or the message for its step;
// what was not mutated still reads.
TEST(Package, MutatedConfigurationAndImagesEndInAResultOrAMessage) {
    const std::vector<uint8_t> package = PackageOf(ReadFileBytes(FixturePath(L"app\\good.exe")));
    std::vector<std::pair<std::string, std::vector<uint8_t>>> entries;
    std::vector<size_t> images;
    size_t textIndex = SIZE_MAX;
    {
        const std::wstring fixture = FixturePath(L"app\\good.exe");
        LauncherConfig config;
        RecordMessagesOf(config);
        ASSERT_TRUE(config.OpenPackageFile(fixture.c_str()));
        for (const std::string& name : ItemNames(package)) {
            std::vector<uint8_t> bytes;
            ASSERT_TRUE(config.ReadPackageEntry(name.c_str(), bytes)) << name;
            if (name == "config/cg.txt") textIndex = entries.size();
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) images.push_back(entries.size());
            entries.emplace_back(name, bytes);
        }
    }
    ASSERT_NE(textIndex, SIZE_MAX);
    ASSERT_FALSE(images.empty());

    TempDir temp;
    std::mt19937 random(20261210);
    int settingsRead = 0, settingsRefused = 0, imagesDecoded = 0, imagesRefused = 0;
    const int rounds = 240;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        const bool textMutated = round % 3 != 1;
        const bool imageMutated = round % 3 != 0;
        const size_t imageIndex = images[random() % images.size()];
        std::vector<ZipItem> items;
        for (size_t i = 0; i < entries.size(); ++i) {
            std::vector<uint8_t> bytes = entries[i].second;
            if (i == textIndex && textMutated) MutateText(random, bytes);
            if (i == imageIndex && imageMutated) MutateImage(random, bytes);
            items.push_back(DeflatedItem(entries[i].first, bytes.data(), static_cast<uint32_t>(bytes.size())));
        }
        const std::wstring path = WriteLauncher(temp, ArchiveOf(items));
        LauncherConfig config;
        RecordMessagesOf(config);
        ASSERT_TRUE(config.OpenPackageFile(path.c_str()));
        EXPECT_TRUE(RecordedMessages().empty());
        const PackageOutcome outcome = ReadWhatTheLauncherReads(config, entries[imageIndex].first.c_str());
        // Every entry reads whole: the checksums held, and what failed, failed in a parser.
        EXPECT_NE(outcome.iniMessage, L"读取ini文件失败");
        EXPECT_EQ(outcome.imageMessage, L"");
        if (!textMutated) EXPECT_TRUE(outcome.settingsRead);
        if (!imageMutated) EXPECT_TRUE(outcome.imageLoaded && outcome.bitmapLoaded);
        if (textMutated) ++(outcome.settingsRead ? settingsRead : settingsRefused);
        if (imageMutated) ++(outcome.bitmapLoaded ? imagesDecoded : imagesRefused);
    }
    printf("[ figures  ] mutated texts: %d read, %d refused; mutated images: %d decoded, %d refused\n",
           settingsRead, settingsRefused, imagesDecoded, imagesRefused);
    // Both ends were reached: the parsers saw the mutated bytes.
    EXPECT_GT(settingsRead, 0);
    EXPECT_GT(settingsRefused, 0);
    EXPECT_GT(imagesDecoded + imagesRefused, 0);
}

// Mutated configuration texts given to the parser directly.
TEST(Package, MutatedTextsEndInSettingsOrAMessage) {
    std::vector<uint8_t> text;
    {
        LauncherConfig config;
        RecordMessagesOf(config);
        ASSERT_TRUE(config.OpenPackageFile(FixturePath(L"app\\good.exe").c_str()));
        ASSERT_TRUE(config.ReadPackageEntry("config/cg.txt", text));
    }
    std::mt19937 random(20261211);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        std::vector<uint8_t> mutated = text;
        MutateText(random, mutated);
        LauncherConfig config;
        RecordMessagesOf(config);
        if (!config.ParseIniText(reinterpret_cast<const char*>(mutated.data()), mutated.size())) continue;
        const bool read = config.ReadSettings();
        ExpectAtMostOneOf(kSettingsMessages, "ReadSettings");
        if (read) {
            EXPECT_FALSE(config.links().empty());
            EXPECT_EQ(strlen(config.settings().aesKey), 16u);
        }
    }
}

}  // namespace
