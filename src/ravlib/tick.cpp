#include "ravlib/tick.h"

#include <windows.h>
#include <mmsystem.h>

namespace ravlib {

TickCounter::TickCounter(uint32_t startReading)
    : startReading_(startReading), state_(startReading) {}

bool TickCounter::TryAdvance(uint64_t state, uint32_t now, uint64_t* elapsed, bool* wrapped) {
    const uint32_t previous = static_cast<uint32_t>(state);
    const bool wrap = now < previous;
    const uint64_t next = (state & ~uint64_t(0xFFFFFFFFu)) + (wrap ? (uint64_t(1) << 32) : 0) + now;
    if (!state_.compare_exchange_strong(state, next)) return false;
    if (elapsed) *elapsed = next - startReading_;
    if (wrapped) *wrapped = wrap;
    return true;
}

uint64_t TickCounter::Read(ClockFunction clock, bool* wrapped) {
    uint64_t elapsed = 0;
    for (;;) {
        uint64_t state = LoadState();
        uint32_t now = clock();
        if (TryAdvance(state, now, &elapsed, wrapped)) return elapsed;
    }
}

uint64_t TickCounter::Advance(uint32_t now, bool* wrapped) {
    uint64_t elapsed = 0;
    while (!TryAdvance(LoadState(), now, &elapsed, wrapped)) {
    }
    return elapsed;
}

namespace {

uint32_t ReadSystemClock() { return timeGetTime(); }

TickCounter& ProcessCounter() {
    // 1 ms resolution for the whole process, never ended.
    static TickCounter counter((timeBeginPeriod(1), timeGetTime()));
    return counter;
}

// Take the start reading while the process starts, not at the first use.
const bool g_started = (ProcessCounter(), true);

}  // namespace

uint64_t GetTickMs() {
    bool wrapped = false;
    uint64_t elapsed = ProcessCounter().Read(ReadSystemClock, &wrapped);
    if (wrapped && IsDebuggerPresent())
        OutputDebugStringW(
            L"请手动确认此处是否未发生BUG，而是系统真正的经过了49天的循环");
    return elapsed;
}

}  // namespace ravlib
