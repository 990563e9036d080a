// The process-wide 64-bit millisecond tick.
#pragma once

#include <stdint.h>

#include <atomic>

namespace ravlib {

// Milliseconds since the process started, from the 32-bit system clock (timeGetTime,
// 1 ms resolution), extended across its wrap after about 49.7 days. Never decreases
// while the process runs; takes no lock; any thread.
uint64_t GetTickMs();

// The wrap-extending counter behind GetTickMs, fed with 32-bit clock readings.
//
// The state is one 64-bit word: its low 32 bits are the last reading installed, its
// high part the wraps seen so far (2^32 per wrap). A reading that is numerically below
// the last one installed means the clock has wrapped. A reading is installed with a
// compare-exchange against the state that was loaded before the clock was read, so a
// reading that another thread has overtaken is never taken for a wrap, and a wrap is
// counted exactly once.
class TickCounter {
public:
    typedef uint32_t (*ClockFunction)();

    explicit TickCounter(uint32_t startReading);

    // Reads the clock until its reading is installed; returns milliseconds since the
    // start reading. *wrapped (optional) tells whether this call counted a wrap.
    uint64_t Read(ClockFunction clock, bool* wrapped = nullptr);

    // One thread's step with a reading taken after state was loaded (LoadState). False
    // when another thread installed a reading in between: load and read again.
    uint64_t LoadState() const { return state_.load(); }
    bool TryAdvance(uint64_t state, uint32_t now, uint64_t* elapsed, bool* wrapped);

    // Single-threaded convenience for a reading known to be current.
    uint64_t Advance(uint32_t now, bool* wrapped = nullptr);

    uint32_t LastReading() const { return static_cast<uint32_t>(state_.load()); }
    uint64_t WrapOffset() const { return state_.load() & ~uint64_t(0xFFFFFFFFu); }

private:
    const uint64_t startReading_;
    std::atomic<uint64_t> state_;
};

}  // namespace ravlib
