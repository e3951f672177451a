// The per-block sample loops of the flip-flops. State carries from call to
// call through LatchCarry; each loop reads every input before it writes the
// outputs of the same step.
#pragma once

#include <cstdint>

#include "latch_rules.h"

namespace latch {

struct LatchCarry {
    float previousSet;
    float previousReset;
    float outLevel;
};

template <LatchPriority Priority>
void runFixedThreshold(const float* set, const float* reset, float threshold, float* out, int32_t frames,
                       LatchCarry& carry) {
    float previousSet = carry.previousSet;
    float previousReset = carry.previousReset;
    float level = carry.outLevel;
    for (int32_t i = 0; i < frames; ++i) {
        level = latchStep<Priority>(set[i], reset[i], threshold, previousSet, previousReset, level);
        out[i] = level;
    }
    carry = {previousSet, previousReset, level};
}

// negOut, when Complementary, receives kHigh - level at every sample.
template <LatchPriority Priority, bool Complementary>
void runVariableThreshold(const float* set, const float* reset, const float* threshold, float* out, float* negOut,
                          int32_t frames, LatchCarry& carry) {
    float previousSet = carry.previousSet;
    float previousReset = carry.previousReset;
    float level = carry.outLevel;
    for (int32_t i = 0; i < frames; ++i) {
        level = latchStep<Priority>(set[i], reset[i], threshold[i], previousSet, previousReset, level);
        out[i] = level;
        if constexpr (Complementary) negOut[i] = kHigh - level;
    }
    carry = {previousSet, previousReset, level};
}

}  // namespace latch
