#include "alloc_counter.h"

#include <cstdlib>
#include <new>

namespace {
int64_t liveBlocks = 0;
int64_t allocations = 0;
int failures = 0;

void* allocate(std::size_t size) {
    if (failures > 0) {
        --failures;
        return nullptr;
    }
    void* block = std::malloc(size ? size : 1);
    if (block) {
        ++liveBlocks;
        ++allocations;
    }
    return block;
}

void release(void* block) {
    if (!block) return;
    --liveBlocks;
    std::free(block);
}
}  // namespace

namespace testing {
int64_t AllocCounter::live() { return liveBlocks; }
int64_t AllocCounter::total() { return allocations; }
void AllocCounter::failNext(int count) { failures = count; }
}  // namespace testing

void* operator new(std::size_t size) {
    if (void* block = allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* block = allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }
