#include "alloc_counter.h"

#include <new>

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
#define PLUGHOST_COUNT_ALLOCATIONS 1
#endif

namespace plughost::validate::alloc {
namespace {

// Everything here works without the heap: it runs inside malloc and free.
struct Slot {
    uintptr_t key;  // 0 empty, 1 deleted
    size_t size;
    int32_t phase;
    uint32_t order;
};
constexpr size_t kSlots = 1u << 16;
Slot table[kSlots];
size_t liveCount = 0;
uint32_t nextOrder = 0;
bool tableFull = false;

bool counting = false;
int32_t currentPhase = -1;
Totals counted;

size_t slotOf(uintptr_t key) { return (key >> 3) * 2654435761u % kSlots; }

void remember(void* block, size_t size) {
    const auto key = reinterpret_cast<uintptr_t>(block);
    if (liveCount + 1 >= kSlots / 2) {
        tableFull = true;
        return;
    }
    for (size_t i = slotOf(key);; i = (i + 1) % kSlots) {
        if (table[i].key <= 1) {
            table[i] = {key, size, currentPhase, nextOrder++};
            ++liveCount;
            return;
        }
    }
}

void forget(void* block) {
    const auto key = reinterpret_cast<uintptr_t>(block);
    for (size_t i = slotOf(key), probes = 0; probes < kSlots; i = (i + 1) % kSlots, ++probes) {
        if (table[i].key == 0) return;
        if (table[i].key == key) {
            table[i].key = 1;
            --liveCount;
            return;
        }
    }
}

[[maybe_unused]] void noteAllocation(void* block, size_t size) {
    if (!counting || !block) return;
    if (counted.allocations++ == 0) {
        counted.firstPhase = currentPhase;
        counted.firstSize = size;
    }
    counted.bytes += static_cast<int64_t>(size);
    remember(block, size);
}

[[maybe_unused]] void noteFree(void* block) {
    if (!block) return;
    if (counting) ++counted.frees;
    if (liveCount > 0) forget(block);
}

}  // namespace

#if PLUGHOST_COUNT_ALLOCATIONS
bool available() { return true; }
const char* unavailableReason() { return ""; }
#elif defined(_WIN32)
bool available() { return false; }
const char* unavailableReason() { return "allocation counting is built for linux32 only"; }
#else
bool available() { return false; }
const char* unavailableReason() { return "AddressSanitizer owns malloc in this build"; }
#endif

void begin(int32_t phase) {
    currentPhase = phase;
    counting = true;
}
void end() { counting = false; }
Totals totals() { return counted; }
void resetTotals() { counted = Totals(); }

Live live() {
    Live result;
    result.overflowed = tableFull;
    uint32_t oldest = UINT32_MAX;
    for (const Slot& slot : table) {
        if (slot.key <= 1) continue;
        ++result.blocks;
        result.bytes += static_cast<int64_t>(slot.size);
        if (slot.order < oldest) {
            oldest = slot.order;
            result.firstPhase = slot.phase;
            result.firstSize = slot.size;
        }
    }
    return result;
}

void forgetLive() {
    for (Slot& slot : table) slot.key = 0;
    liveCount = 0;
    tableFull = false;
}

}  // namespace plughost::validate::alloc

#if PLUGHOST_COUNT_ALLOCATIONS
using plughost::validate::alloc::noteAllocation;
using plughost::validate::alloc::noteFree;

// glibc's own entry points, under the names it keeps for programs that interpose.
extern "C" {
void* __libc_malloc(size_t size) noexcept;
void* __libc_calloc(size_t count, size_t size) noexcept;
void* __libc_realloc(void* block, size_t size) noexcept;
void* __libc_memalign(size_t alignment, size_t size) noexcept;
void __libc_free(void* block) noexcept;

__attribute__((visibility("default"))) void* malloc(size_t size) noexcept {
    void* block = __libc_malloc(size);
    noteAllocation(block, size);
    return block;
}

__attribute__((visibility("default"))) void* calloc(size_t count, size_t size) noexcept {
    void* block = __libc_calloc(count, size);
    noteAllocation(block, count * size);
    return block;
}

__attribute__((visibility("default"))) void* realloc(void* block, size_t size) noexcept {
    void* moved = __libc_realloc(block, size);
    if (moved || size == 0) noteFree(block);
    if (moved) noteAllocation(moved, size);
    return moved;
}

__attribute__((visibility("default"))) void free(void* block) noexcept {
    noteFree(block);
    __libc_free(block);
}

__attribute__((visibility("default"))) void* memalign(size_t alignment, size_t size) noexcept {
    void* block = __libc_memalign(alignment, size);
    noteAllocation(block, size);
    return block;
}

__attribute__((visibility("default"))) void* aligned_alloc(size_t alignment, size_t size) noexcept {
    return memalign(alignment, size);
}

__attribute__((visibility("default"))) int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
    void* block = memalign(alignment, size);
    if (!block) return 12;  // ENOMEM
    *out = block;
    return 0;
}
}  // extern "C"

// operator new and delete through the counted malloc and free.
void* operator new(size_t size) {
    if (void* block = malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    if (void* block = malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return malloc(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return malloc(size ? size : 1); }
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { free(block); }
#endif
