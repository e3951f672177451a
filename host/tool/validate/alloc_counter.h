// Counts heap allocations made while counting is switched on. On linux32 this
// program defines malloc, calloc, realloc, free (and operator new / delete)
// and exports them, so a loaded .sem's calls land here; elsewhere, and under
// AddressSanitizer (which owns malloc), counting is not available.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plughost::validate::alloc {

bool available();
const char* unavailableReason();

// Counting on, each allocation tagged with phase; end() switches it off.
void begin(int32_t phase);
void end();

struct Totals {
    int64_t allocations = 0;
    int64_t frees = 0;
    int64_t bytes = 0;
    int32_t firstPhase = -1;   // of the first allocation counted
    size_t firstSize = 0;
};
Totals totals();
void resetTotals();

// Blocks allocated while counting and not freed since (wherever freed).
struct Live {
    int64_t blocks = 0;
    int64_t bytes = 0;
    int32_t firstPhase = -1;  // of the oldest live block
    size_t firstSize = 0;
    bool overflowed = false;  // more live blocks than the table holds: counts are low
};
Live live();
void forgetLive();

}  // namespace plughost::validate::alloc
