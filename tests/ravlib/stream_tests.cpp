// File streams over real files in a temporary folder.
#include "ravlib/stream.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace ravlib::stream;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

class Streams : public ::testing::Test {
protected:
    std::wstring File(const wchar_t* name, size_t size) {
        std::wstring path = dir_.path() + name;
        std::vector<uint8_t> bytes = Pattern(size);
        EXPECT_TRUE(WriteFileBytes(path, bytes.data(), bytes.size()));
        return path;
    }
    TempDir dir_;
};

TEST_F(Streams, AMissingFileGivesAStreamThatFailsEverything) {
    std::wstring path = dir_.path() + L"missing.dat";
    CFileStream stream(path.c_str(), kStreamModeOpen);
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_EQ(stream.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_STREQ(stream.Path(), path.c_str());
    char byte = 0;
    EXPECT_EQ(stream.GetSize(), -1);
    EXPECT_EQ(stream.Seek(0, SeekBegin), -1);
    EXPECT_EQ(stream.Read(&byte, 1), -1);
    EXPECT_EQ(stream.Write(&byte, 1), -1);
    EXPECT_FALSE(stream.SetSize(0));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);  // not created

    CFileStream noPath(nullptr, kStreamModeCreate);
    EXPECT_FALSE(noPath.IsOpen());
}

TEST_F(Streams, CreateTruncatesAndAllowsReadingBack) {
    std::wstring path = File(L"cache.dat", 300);
    {
        CFileStream stream(path.c_str(), kStreamModeCreate);
        ASSERT_TRUE(stream.IsOpen());
        EXPECT_EQ(stream.GetSize(), 0);
        EXPECT_EQ(stream.Write("resource", 8), 8);
        EXPECT_EQ(stream.Seek(0, SeekBegin), 0);
        char back[16] = {};
        EXPECT_EQ(stream.Read(back, sizeof back), 8);
        EXPECT_STREQ(back, "resource");
        EXPECT_EQ(stream.Read(back, sizeof back), 0);  // at the end
    }
    EXPECT_EQ(ReadFileBytes(path).size(), 8u);

    std::wstring fresh = dir_.path() + L"fresh.dat";
    CFileStream created(fresh.c_str(), kStreamModeCreate);
    EXPECT_TRUE(created.IsOpen());
}

TEST_F(Streams, PositionsAndSizes) {
    std::wstring path = File(L"hundred.dat", 100);
    CFileStream stream(path.c_str(), kStreamModeOpen);
    ASSERT_TRUE(stream.IsOpen());
    EXPECT_EQ(stream.Seek(30, SeekBegin), 30);
    EXPECT_EQ(stream.GetSize(), 100);
    EXPECT_EQ(stream.Seek(0, SeekCurrent), 30);  // GetSize left it there
    EXPECT_EQ(stream.Seek(5, SeekCurrent), 35);
    EXPECT_EQ(stream.Seek(-10, SeekEnd), 90);
    EXPECT_EQ(stream.Seek(-1, SeekBegin), -1);
    EXPECT_EQ(stream.Seek(0, 3), -1);
    uint8_t bytes[64];
    EXPECT_EQ(stream.Seek(90, SeekBegin), 90);
    EXPECT_EQ(stream.Read(bytes, 64), 10);  // short count at the end
    EXPECT_EQ(bytes[0], Pattern(100)[90]);
    EXPECT_EQ(stream.Read(bytes, -1), -1);

    EXPECT_TRUE(stream.SetSize(10));
    EXPECT_EQ(stream.Seek(0, SeekCurrent), 10);
    EXPECT_EQ(stream.GetSize(), 10);
    EXPECT_TRUE(stream.SetSize(20));  // extends
    EXPECT_EQ(stream.GetSize(), 20);
    EXPECT_FALSE(stream.SetSize(-1));
    stream.SetSize(10);
    std::vector<uint8_t> expected = Pattern(100);
    expected.resize(10);
    EXPECT_EQ(ReadFileBytes(path), expected);
}

// Who may open a file while a stream holds it. The second opener is either another
// stream (mode) or a plain CreateFileW (access, share).
TEST_F(Streams, ShareRulesOfTheOpenModes) {
    const DWORD kAllShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    struct Case {
        uint32_t held;
        uint32_t secondMode;  // 0: use access/share instead
        DWORD access, share;
        bool opens;
    } cases[] = {
        // Being written: nobody else may open it, not even to read.
        {kStreamModeCreate, kStreamModeOpen, 0, 0, false},
        {kStreamModeCreate, StreamRead | StreamShareRead, 0, 0, false},
        {kStreamModeCreate, 0, GENERIC_READ, kAllShare, false},
        {StreamCreate | StreamShareRead | StreamShareWrite, 0, GENERIC_READ, kAllShare, false},
        // Open for reading and writing: others may read, if they let it write.
        {kStreamModeOpen, 0, GENERIC_READ, kAllShare, true},
        {kStreamModeOpen, 0, GENERIC_READ, FILE_SHARE_READ, false},
        {kStreamModeOpen, 0, GENERIC_WRITE, kAllShare, false},
        {kStreamModeOpen, kStreamModeOpen, 0, 0, false},
        {kStreamModeOpen, kStreamModeCreate, 0, 0, false},
        // Readers that share reading.
        {StreamRead | StreamShareRead, StreamRead | StreamShareRead, 0, 0, true},
        {StreamRead | StreamShareRead, kStreamModeOpen, 0, 0, false},
        {StreamRead | StreamShareRead | StreamShareWrite, kStreamModeOpen, 0, 0, false},
        {StreamRead | StreamShareDelete, 0, DELETE, kAllShare, true},
    };
    int index = 0;
    for (const Case& c : cases) {
        std::wstring path = File((L"share" + std::to_wstring(index++) + L".dat").c_str(), 50);
        bool opens;
        {
            CFileStream held(path.c_str(), c.held);
            ASSERT_TRUE(held.IsOpen()) << "case " << index;
            if (c.secondMode) {
                CFileStream second(path.c_str(), c.secondMode);
                opens = second.IsOpen();
            } else {
                HANDLE h = CreateFileW(path.c_str(), c.access, c.share, nullptr, OPEN_EXISTING, 0,
                                       nullptr);
                opens = h != INVALID_HANDLE_VALUE;
                if (opens) CloseHandle(h);
            }
        }
        EXPECT_EQ(opens, c.opens) << "case " << index;
        CFileStream afterwards(path.c_str(), kStreamModeOpen);
        EXPECT_TRUE(afterwards.IsOpen()) << "case " << index << ": released on destruction";
    }
}

TEST_F(Streams, HandleStreamLeavesTheHandleOpen) {
    std::wstring path = File(L"handle.dat", 40);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
        CHandleStream stream(h);
        EXPECT_EQ(stream.GetSize(), 40);
        EXPECT_EQ(stream.Seek(8, SeekBegin), 8);
    }
    LARGE_INTEGER size;
    EXPECT_TRUE(GetFileSizeEx(h, &size));  // still valid
    EXPECT_EQ(size.QuadPart, 40);
    CloseHandle(h);
}

TEST_F(Streams, CopyFrom) {
    const size_t kSize = 3 * 8192 + 123;
    const std::vector<uint8_t> source = Pattern(kSize);
    std::wstring from = File(L"source.dat", kSize);
    std::wstring emptyPath = File(L"empty.dat", 0);
    struct Case {
        int64_t startAt, count, copied;
        size_t firstByte;
    } cases[] = {
        {0, 0, int64_t(kSize), 0},        // whole source
        {5000, 0, int64_t(kSize), 0},     // whole source, from its beginning
        {37, 50, 50, 37},                 // from the current position
        {100, 9000, 9000, 100},
        {kSize - 10, 50, 10, kSize - 10},  // stops at the end of the source
        {12, -5, -5, 0},                  // returned as given, nothing copied
    };
    int index = 0;
    for (const Case& c : cases) {
        std::wstring to = dir_.path() + L"copy" + std::to_wstring(index++) + L".dat";
        {
            CFileStream in(from.c_str(), kStreamModeOpen);
            CFileStream out(to.c_str(), kStreamModeCreate);
            ASSERT_EQ(in.Seek(c.startAt, SeekBegin), c.startAt);
            EXPECT_EQ(out.CopyFrom(&in, c.count), c.copied) << "case " << index;
            if (c.count >= 0) {
                EXPECT_EQ(in.Seek(0, SeekCurrent), c.startAt) << "case " << index;
            }
        }
        std::vector<uint8_t> expected;
        if (c.copied > 0)
            expected.assign(source.begin() + c.firstByte, source.begin() + c.firstByte + c.copied);
        EXPECT_EQ(ReadFileBytes(to), expected) << "case " << index;
    }

    // An empty source with count 0: nothing to copy.
    CFileStream empty(emptyPath.c_str(), kStreamModeOpen);
    CFileStream out((dir_.path() + L"fromempty.dat").c_str(), kStreamModeCreate);
    EXPECT_EQ(out.CopyFrom(&empty, 0), 0);
    EXPECT_EQ(out.CopyFrom(nullptr, 10), -1);
}

TEST_F(Streams, CopyIntoAStreamThatCannotWriteReportsWhatArrived) {
    std::wstring from = File(L"source.dat", 20000);
    std::wstring to = File(L"target.dat", 10);
    CFileStream in(from.c_str(), kStreamModeOpen);
    CFileStream readOnly(to.c_str(), StreamRead | StreamShareRead);
    ASSERT_TRUE(readOnly.IsOpen());
    EXPECT_EQ(readOnly.Write("x", 1), -1);  // opened without write access
    EXPECT_EQ(readOnly.CopyFrom(&in, 0), 0);
    EXPECT_EQ(in.Seek(0, SeekCurrent), 0);
    CFileStream closed((dir_.path() + L"none.dat").c_str(), kStreamModeOpen);
    EXPECT_EQ(closed.CopyFrom(&in, 100), 0);
}

}  // namespace
