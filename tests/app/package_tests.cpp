// The package appended to an executable: finding it, reading the configuration and the
// images out of it, and surviving broken packages.
#include <gtest/gtest.h>

#include <ole2.h>
#include <gdiplus.h>
#include <psapi.h>
#include <string.h>
#include <zlib.h>

#include <random>
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

// A ZIP archive of one item of `size` zero bytes, honestly deflated (about 1 KiB per MiB).
std::vector<uint8_t> ZerosArchive(const char* name, uint32_t size) {
    std::vector<uint8_t> packed;
    z_stream stream = {};
    EXPECT_EQ(Z_OK, deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY));
    std::vector<uint8_t> zeros(1u << 20, 0);
    std::vector<uint8_t> out(1u << 16);
    uint32_t left = size;
    uint32_t crc = crc32(0, nullptr, 0);
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        const uint32_t take = left < zeros.size() ? left : static_cast<uint32_t>(zeros.size());
        crc = crc32(crc, zeros.data(), take);
        left -= take;
        stream.next_in = zeros.data();
        stream.avail_in = take;
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            status = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            packed.insert(packed.end(), out.data(), out.data() + (out.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);

    std::vector<uint8_t> archive;
    auto put = [&archive](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) archive.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    const uint32_t nameLength = static_cast<uint32_t>(strlen(name));
    const uint32_t compressed = static_cast<uint32_t>(packed.size());
    auto sizes = [&] {
        put(crc, 4);
        put(compressed, 4);
        put(size, 4);
        put(nameLength, 2);
    };
    put(0x04034b50, 4);
    put(20, 2), put(0, 2), put(Z_DEFLATED, 2), put(0, 4);
    sizes();
    put(0, 2);
    archive.insert(archive.end(), name, name + nameLength);
    archive.insert(archive.end(), packed.begin(), packed.end());
    const uint32_t directoryAt = static_cast<uint32_t>(archive.size());
    put(0x02014b50, 4);
    put(20, 2), put(20, 2), put(0, 2), put(Z_DEFLATED, 2), put(0, 4);
    sizes();
    put(0, 2), put(0, 2), put(0, 2), put(0, 2), put(0, 4), put(0, 4);
    archive.insert(archive.end(), name, name + nameLength);
    const uint32_t directorySize = static_cast<uint32_t>(archive.size()) - directoryAt;
    put(0x06054b50, 4);
    put(0, 2), put(0, 2), put(1, 2), put(1, 2);
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
    const std::vector<uint8_t> package = ZerosArchive("config/cg.txt", (64u << 20) + 1);
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

// Truncated and mutated packages and configuration texts: every attempt ends in a
// result or a message, never a crash.
TEST(Package, BrokenPackagesNeverCrash) {
    std::vector<uint8_t> package = PackageOf(ReadFileBytes(FixturePath(L"app\\good.exe")));
    ASSERT_FALSE(package.empty());
    std::vector<uint8_t> text;
    {
        LauncherConfig config;
        RecordMessagesOf(config);
        ASSERT_TRUE(config.OpenPackageFile(FixturePath(L"app\\good.exe").c_str()));
        ASSERT_TRUE(config.ReadPackageEntry("config/cg.txt", text));
    }
    TempDir temp;
    std::mt19937 random(20261209);
    for (int round = 0; round < 150; ++round) {
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
        std::vector<uint8_t> exe = MinimalImage();
        exe.insert(exe.end(), mutated.begin(), mutated.end());
        std::wstring path = temp.path() + L"fuzz.exe";
        ASSERT_TRUE(WriteFileBytes(path, exe.data(), exe.size()));
        LauncherConfig config;
        RecordMessagesOf(config);
        if (config.OpenPackageFile(path.c_str()) && config.LoadIniText("config/cg.txt")) {
            config.ReadSettings();
            CImage image;
            config.LoadPackageImage("config/main1.png", image);
        }
    }
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> mutated = text;
        for (int i = 0; i < 1 + static_cast<int>(random() % 8); ++i) {
            size_t at = random() % (mutated.size() + 1);
            uint8_t bytes[] = {'\n', '=', '[', ']', ';', 0, 0xE7, static_cast<uint8_t>(random())};
            mutated.insert(mutated.begin() + static_cast<long>(at), bytes[random() % sizeof bytes]);
        }
        mutated.resize(random() % (mutated.size() + 1));
        LauncherConfig config;
        RecordMessagesOf(config);
        if (config.ParseIniText(reinterpret_cast<const char*>(mutated.data()), mutated.size()) &&
            config.ReadSettings()) {
            EXPECT_FALSE(config.links().empty());
            EXPECT_EQ(strlen(config.settings().aesKey), 16u);
        }
    }
}

}  // namespace
