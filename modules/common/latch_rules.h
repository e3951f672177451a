// The flip-flop rules every module class shares: the edge test, the output
// levels, the priority of same-sample crossings and the output-state rule.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "sem/module_base.h"

namespace latch {

inline constexpr float kHigh = 0.5f;  // 5 V
inline constexpr float kLow = 0.0f;

// Which input decides the level when both cross on the same sample.
enum class LatchPriority { ResetWins, SetWins };

// A sample at or above the threshold whose predecessor was not. Exact single
// precision: a NaN sample or threshold never crosses, a NaN predecessor counts as below.
inline bool isRisingCrossing(float sample, float previous, float threshold) {
    return sample >= threshold && !(previous >= threshold);
}

// One sample step of the flip-flop: the level after the step's two edge tests,
// with previousSet and previousReset moved on to this step's samples.
template <LatchPriority Priority>
inline float latchStep(float set, float reset, float threshold, float& previousSet, float& previousReset,
                       float level) {
    const bool setEdge = isRisingCrossing(set, previousSet, threshold);
    const bool resetEdge = isRisingCrossing(reset, previousReset, threshold);
    if constexpr (Priority == LatchPriority::ResetWins) {
        if (setEdge) level = kHigh;
        if (resetEdge) level = kLow;
    } else {
        if (resetEdge) level = kLow;
        if (setEdge) level = kHigh;
    }
    previousSet = set;
    previousReset = reset;
    return level;
}

// The state to report for the outputs: the larger of the two combined input
// states, replaced by OneChange when a tested input below Streaming sits at 0.0
// (either sign) or NaN. An input pin the host did not count is Static at 0.0.
sem::PinState outputPinState(sem::PinState a, sem::PinState b, std::initializer_list<sem::Pin*> testedPins);

// The state of a pin, Static for a pin the host did not count.
sem::PinState stateOf(const sem::Pin* pin);

// Reports state on each output pin in turn, each with a clock fetched just before.
// Outputs the host did not count get no report.
void reportOutputState(sem::ModuleBase& module, sem::PinState state, std::initializer_list<int32_t> outputPins);

}  // namespace latch
