// The millisecond tick and the counter that extends the 32-bit clock across its wrap.
#include "ravlib/tick.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <vector>

using ravlib::GetTickMs;
using ravlib::TickCounter;

namespace {

const uint64_t k2To32 = uint64_t(1) << 32;

TEST(Tick, CounterFollowsReadingsAcrossTheWrap) {
    struct Step {
        uint32_t reading;
        uint64_t elapsed;
        bool wrapped;
    } steps[] = {
        {0xFFFFFF00u, 0, false},
        {0xFFFFFFF0u, 0xF0, false},       // 2^32 - 16
        {5, 0xF0 + 21, true},             // 5 after 2^32 - 16: 21 ms later
        {5, 0xF0 + 21, false},            // same reading: no change
        {1000, 0xF0 + 1016, false},
        {0xFFFFFFFFu, 0xF0 + 16 + uint64_t(0xFFFFFFFFu), false},
        {0, 0xF0 + 16 + k2To32, true},    // second wrap
    };
    TickCounter counter(0xFFFFFF00u);
    for (const Step& s : steps) {
        bool wrapped = !s.wrapped;
        EXPECT_EQ(counter.Advance(s.reading, &wrapped), s.elapsed) << "reading " << s.reading;
        EXPECT_EQ(wrapped, s.wrapped) << "reading " << s.reading;
        EXPECT_EQ(counter.LastReading(), s.reading);
    }
    EXPECT_EQ(counter.WrapOffset(), 2 * k2To32);
}

// A shared fake clock that every reading moves on by one millisecond; it starts just
// before the wrap so that threads race across it.
std::atomic<uint32_t> g_fakeClock;
uint32_t ReadFakeClock() { return g_fakeClock.fetch_add(1); }

struct Reader {
    TickCounter* counter;
    std::vector<uint64_t> seen;
    int wraps = 0;
    static const int kReads = 30000;
    static DWORD WINAPI Run(void* self) {
        Reader* r = static_cast<Reader*>(self);
        r->seen.reserve(kReads);
        for (int i = 0; i < kReads; ++i) {
            bool wrapped = false;
            r->seen.push_back(r->counter->Read(ReadFakeClock, &wrapped));
            if (wrapped) ++r->wraps;
        }
        return 0;
    }
};

TEST(Tick, ThreadsRacingAcrossTheWrapCountItOnceAndNeverGoBack) {
    const uint32_t start = 0xFFFFFFFFu - 50000;
    g_fakeClock = start;
    TickCounter counter(ReadFakeClock());
    const int kThreads = 4;
    Reader readers[kThreads];
    HANDLE threads[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        readers[i].counter = &counter;
        threads[i] = CreateThread(nullptr, 0, Reader::Run, &readers[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
    int wraps = 0;
    uint64_t highest = 0;
    for (int i = 0; i < kThreads; ++i) {
        CloseHandle(threads[i]);
        const std::vector<uint64_t>& seen = readers[i].seen;
        ASSERT_EQ(seen.size(), size_t(Reader::kReads));
        for (size_t j = 1; j < seen.size(); ++j)
            ASSERT_LT(seen[j - 1], seen[j]) << "thread " << i << " read " << j;
        wraps += readers[i].wraps;
        if (seen.back() > highest) highest = seen.back();
    }
    EXPECT_EQ(wraps, 1);
    EXPECT_EQ(counter.WrapOffset(), k2To32);
    // Each read installed a newer reading; none jumped past the clock's last reading.
    EXPECT_GE(highest, uint64_t(kThreads) * Reader::kReads);
    EXPECT_LT(highest, uint64_t(uint32_t(g_fakeClock.load() - start)));
}

TEST(Tick, GetTickMsCountsMillisecondsAndNeverDecreases) {
    uint64_t first = GetTickMs();
    uint64_t previous = first;
    for (int i = 0; i < 100000; ++i) {
        uint64_t now = GetTickMs();
        ASSERT_GE(now, previous);
        previous = now;
    }
    Sleep(50);
    EXPECT_GE(GetTickMs() - first, 40u);
    EXPECT_LT(GetTickMs(), 3600u * 1000u);  // since this process started
}

}  // namespace
