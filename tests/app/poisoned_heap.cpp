// This test program's operator new and delete: memory given back is filled with 0xDD
// first, so that an object used after its deletion reads that pattern (a pointer to
// nowhere) and the program fails at once instead of reading what happened to be left.
#include <malloc.h>
#include <stdlib.h>
#include <string.h>

#include <new>

namespace {

const int kFreedByte = 0xDD;

void* Allocate(size_t size) {
    void* block = malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    return block;
}

void Release(void* block) {
    if (!block) return;
    memset(block, kFreedByte, _msize(block));
    free(block);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
