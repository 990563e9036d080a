// A test program that links failing_heap.cpp gets this operator new and delete (over
// malloc and free) and can make allocations fail on chosen threads, as they fail in a
// 32-bit process whose address space has run out: the throwing forms throw
// std::bad_alloc, the nothrow forms return null. Portable: the Windows test programs
// and the native ones use the same file.
#pragma once

#include <stddef.h>

namespace testing_support {

// From now on, on the calling thread, allocations of at least minBytes fail once
// `allowed` of them have succeeded. Smaller ones and other threads are not touched.
void FailAllocationsOnThisThread(size_t allowed, size_t minBytes);

// Ends the failures of every thread.
void EndAllocationFailures();

// While it lives, the calling thread's allocations fail as FailAllocationsOnThisThread
// says; its end ends the failures.
class FailingAllocations {
public:
    FailingAllocations(size_t allowed, size_t minBytes) { FailAllocationsOnThisThread(allowed, minBytes); }
    ~FailingAllocations() { EndAllocationFailures(); }
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
};

}  // namespace testing_support
