#include "support/failing_heap.h"

#include <stdlib.h>

#include <atomic>
#include <new>

namespace {

// A thread's failures hold while the round they were set in is the current one; ending
// them starts a new round, which reaches every thread without touching its state.
std::atomic<unsigned> g_round{1};

struct ThreadFailures {
    unsigned round = 0;
    size_t allowed = 0;
    size_t minBytes = 0;
};
thread_local ThreadFailures t_failures;

bool ShouldFail(size_t size) {
    ThreadFailures& failures = t_failures;
    if (failures.round != g_round.load(std::memory_order_acquire) || size < failures.minBytes) return false;
    if (failures.allowed == 0) return true;
    --failures.allowed;
    return false;
}

void* TryAllocate(size_t size) {
    if (ShouldFail(size)) return nullptr;
    return malloc(size ? size : 1);
}

void* Allocate(size_t size) {
    void* block = TryAllocate(size);
    if (!block) throw std::bad_alloc();
    return block;
}

}  // namespace

namespace testing_support {

void FailAllocationsOnThisThread(size_t allowed, size_t minBytes) {
    t_failures.allowed = allowed;
    t_failures.minBytes = minBytes;
    t_failures.round = g_round.load(std::memory_order_acquire);
}

void EndAllocationFailures() { g_round.fetch_add(1, std::memory_order_acq_rel); }

}  // namespace testing_support

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return TryAllocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return TryAllocate(size); }
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { free(block); }
