// Counts the program's operator new / delete calls and can make the next
// allocations fail, so tests see what an instance allocates and frees.
#pragma once

#include <cstdint>

namespace testing {

struct AllocCounter {
    static int64_t live();       // blocks allocated and not yet freed
    static int64_t total();      // allocations so far
    static void failNext(int count);  // the next `count` allocations answer null / throw
};

}  // namespace testing
