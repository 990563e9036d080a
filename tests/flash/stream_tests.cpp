// The movie stream the control loads from: the "fUfU" header, the movie, S_FALSE at the
// end, and no read outside the movie's bytes whatever counts the reader asks for.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <algorithm>
#include <vector>

#include "flash/shockwave_flash.h"

namespace {

std::vector<uint8_t> Pattern(size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    return bytes;
}

std::vector<uint8_t> Expected(const std::vector<uint8_t>& movie) {
    const uint32_t n = static_cast<uint32_t>(movie.size());
    std::vector<uint8_t> bytes(8 + movie.size());
    const uint8_t header[8] = {'f', 'U', 'f', 'U', static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                               static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
    std::copy(header, header + 8, bytes.begin());
    std::copy(movie.begin(), movie.end(), bytes.begin() + 8);
    return bytes;
}

struct ReadResult {
    HRESULT result;
    std::vector<uint8_t> bytes;
};

ReadResult ReadChunk(IStream& stream, ULONG count) {
    std::vector<uint8_t> buffer(count + 16, 0xCC);
    ULONG got = 0xDEADBEEF;
    HRESULT hr = stream.Read(buffer.data(), count, &got);
    EXPECT_LE(got, count);
    // Nothing beyond what it reports is touched.
    for (size_t i = got; i < buffer.size(); ++i) EXPECT_EQ(0xCC, buffer[i]) << "byte " << i;
    buffer.resize(got <= count ? got : 0);
    return {hr, buffer};
}

TEST(FlashMemoryStream, ServesHeaderAndMovieTheWayTheControlReadsThem) {
    const std::vector<uint8_t> movie = Pattern(1000);
    FlashMemoryStream stream(movie.data(), 1000);

    ReadResult signature = ReadChunk(stream, 4);
    EXPECT_EQ(S_OK, signature.result);
    EXPECT_EQ((std::vector<uint8_t>{'f', 'U', 'f', 'U'}), signature.bytes);

    ReadResult length = ReadChunk(stream, 4);
    EXPECT_EQ(S_OK, length.result);
    EXPECT_EQ((std::vector<uint8_t>{0xE8, 0x03, 0x00, 0x00}), length.bytes);

    ReadResult body = ReadChunk(stream, 4096);
    EXPECT_EQ(S_OK, body.result);
    EXPECT_EQ(movie, body.bytes);

    ReadResult end = ReadChunk(stream, 4096);
    EXPECT_EQ(S_FALSE, end.result);
    EXPECT_TRUE(end.bytes.empty());
}

TEST(FlashMemoryStream, EmptyMovieHasOnlyItsHeader) {
    FlashMemoryStream stream(nullptr, 0);
    EXPECT_EQ((std::vector<uint8_t>{'f', 'U', 'f', 'U'}), ReadChunk(stream, 4).bytes);
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0}), ReadChunk(stream, 4).bytes);
    EXPECT_EQ(S_FALSE, ReadChunk(stream, 4096).result);
}

TEST(FlashMemoryStream, ReadPastTheEndCopiesWhatIsLeftAndSaysSo) {
    const std::vector<uint8_t> movie = Pattern(10);
    FlashMemoryStream stream(movie.data(), 10);
    ReadChunk(stream, 4);
    ReadChunk(stream, 4);
    ASSERT_EQ(7u, ReadChunk(stream, 7).bytes.size());
    ReadResult last = ReadChunk(stream, 10);
    EXPECT_EQ(S_OK, last.result);
    EXPECT_EQ(std::vector<uint8_t>(movie.begin() + 7, movie.end()), last.bytes);
    EXPECT_EQ(S_FALSE, ReadChunk(stream, 10).result);
}

TEST(FlashMemoryStream, ReadWithoutCountPointerStillCopies) {
    const std::vector<uint8_t> movie = Pattern(3);
    FlashMemoryStream stream(movie.data(), 3);
    uint8_t buffer[16] = {};
    EXPECT_EQ(S_OK, stream.Read(buffer, 16, nullptr));
    EXPECT_EQ(0, memcmp(buffer, Expected(movie).data(), 11));
    EXPECT_EQ(S_FALSE, stream.Read(buffer, 16, nullptr));
}

TEST(FlashMemoryStream, NullBufferIsRefused) {
    const std::vector<uint8_t> movie = Pattern(3);
    FlashMemoryStream stream(movie.data(), 3);
    ULONG got = 99;
    EXPECT_EQ(STG_E_INVALIDPOINTER, stream.Read(nullptr, 4, &got));
    EXPECT_EQ(0u, got);
    EXPECT_EQ((std::vector<uint8_t>{'f', 'U', 'f', 'U'}), ReadChunk(stream, 4).bytes);
}

// The movie placed against inaccessible pages, so that a read before its first or after
// its last byte faults. Readers that split the header differently from the control must
// still get header and movie, and nothing else.
class GuardedMovie {
public:
    GuardedMovie(size_t length, bool atPageEnd) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
        const size_t pages = (length + page_ - 1) / page_ + 2;
        base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, pages * page_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(base_, page_, PAGE_NOACCESS, &old);
        VirtualProtect(base_ + (pages - 1) * page_, page_, PAGE_NOACCESS, &old);
        data_ = atPageEnd ? base_ + (pages - 1) * page_ - length : base_ + page_;
        content_ = Pattern(length);
        if (length) memcpy(data_, content_.data(), length);
    }
    ~GuardedMovie() { VirtualFree(base_, 0, MEM_RELEASE); }
    GuardedMovie(const GuardedMovie&) = delete;
    GuardedMovie& operator=(const GuardedMovie&) = delete;

    const uint8_t* data() const { return data_; }
    const std::vector<uint8_t>& content() const { return content_; }

private:
    size_t page_ = 0;
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    std::vector<uint8_t> content_;
};

struct ChunkCase {
    const char* name;
    size_t movieLength;
    std::vector<ULONG> chunks;  // repeated until the stream ends
};

TEST(FlashMemoryStream, AnySplitOfTheReadsGivesHeaderThenMovieAndNothingOutside) {
    const ChunkCase cases[] = {
        {"control's reads", 1000, {4, 4, 4096}},
        {"byte by byte", 37, {1}},
        {"threes across the header", 40, {3}},
        {"header in one read", 100, {8, 50}},
        {"header and movie in one read", 100, {200}},
        {"seven then one", 20, {7, 1, 5}},
        {"exact fit", 12, {20}},
        {"empty movie, odd reads", 0, {5, 2}},
        {"large movie, odd chunks", 70000, {4, 4, 4095, 65536}},
    };
    for (const ChunkCase& c : cases) {
        for (bool atPageEnd : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (atPageEnd ? ", movie ends at a page end" : ", movie starts a page"));
            GuardedMovie movie(c.movieLength, atPageEnd);
            FlashMemoryStream stream(movie.data(), static_cast<uint32_t>(c.movieLength));
            std::vector<uint8_t> all;
            for (size_t i = 0;; ++i) {
                ReadResult chunk = ReadChunk(stream, c.chunks[i % c.chunks.size()]);
                if (chunk.result == S_FALSE) {
                    EXPECT_TRUE(chunk.bytes.empty());
                    break;
                }
                ASSERT_EQ(S_OK, chunk.result);
                ASSERT_FALSE(chunk.bytes.empty());
                all.insert(all.end(), chunk.bytes.begin(), chunk.bytes.end());
                ASSERT_LE(all.size(), c.movieLength + 8);
            }
            EXPECT_EQ(Expected(movie.content()), all);
        }
    }
}

TEST(FlashMemoryStream, OnlyReadWorksAndItHasNoReferenceCount) {
    const std::vector<uint8_t> movie = Pattern(16);
    FlashMemoryStream stream(movie.data(), 16);
    EXPECT_EQ(static_cast<ULONG>(E_NOTIMPL), stream.AddRef());
    EXPECT_EQ(static_cast<ULONG>(E_NOTIMPL), stream.Release());
    EXPECT_EQ(static_cast<ULONG>(E_NOTIMPL), stream.Release());

    void* object = &stream;
    EXPECT_EQ(E_NOTIMPL, stream.QueryInterface(IID_IStream, &object));
    EXPECT_EQ(nullptr, object);

    ULONG written = 0;
    LARGE_INTEGER move = {};
    ULARGE_INTEGER size = {};
    STATSTG stat = {};
    IStream* clone = nullptr;
    EXPECT_EQ(E_NOTIMPL, stream.Write("x", 1, &written));
    EXPECT_EQ(E_NOTIMPL, stream.Seek(move, STREAM_SEEK_SET, &size));
    EXPECT_EQ(E_NOTIMPL, stream.SetSize(size));
    EXPECT_EQ(E_NOTIMPL, stream.CopyTo(nullptr, size, nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, stream.Commit(STGC_DEFAULT));
    EXPECT_EQ(E_NOTIMPL, stream.Revert());
    EXPECT_EQ(E_NOTIMPL, stream.LockRegion(size, size, 0));
    EXPECT_EQ(E_NOTIMPL, stream.UnlockRegion(size, size, 0));
    EXPECT_EQ(E_NOTIMPL, stream.Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(E_NOTIMPL, stream.Clone(&clone));

    // Still whole after all that.
    std::vector<uint8_t> all = ReadChunk(stream, 100).bytes;
    EXPECT_EQ(Expected(movie), all);
}

}  // namespace
