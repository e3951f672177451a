// An independent model of the output-state reports a flip-flop makes after a
// pin-state event, written from the rule rather than from the module code:
// the pins the host counted, their last states, and which samples force
// OneChange. Shared by the soak run, the fuzz targets and the hostile-host tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "plughost/instance.h"
#include "reference_latch.h"

namespace testing {

class ReportModel {
public:
    explicit ReportModel(LatchConfig config) : config(config) {}

    int32_t describedPins() const { return config.complementary ? 5 : config.fixedThreshold ? 3 : 4; }

    // hostPinCount: what the host answered to GetPinCount at this Open (0 without a callback).
    void open(int32_t hostPinCount) {
        counted = std::clamp(hostPinCount, 0, describedPins());
        states.assign(static_cast<size_t>(counted), 0);
    }
    // Before the first Open no pin exists.
    void reset() {
        counted = 0;
        states.clear();
    }
    int32_t countedPins() const { return counted; }

    // The reports an event naming `pin` with `state` gives at `clock`.
    // sampleAt(p) is the sample input pin p's buffer holds at that clock (0.0f when it has none).
    template <class SampleAt>
    std::vector<plughost::StateReport> event(int64_t pin, int32_t state, int32_t clock, SampleAt sampleAt) {
        std::vector<plughost::StateReport> expected;
        if (pin < 0 || pin >= counted) return expected;
        states[static_cast<size_t>(pin)] = state;
        int32_t combined = std::max(stateOf(0), stateOf(1));
        const int32_t tested[] = {0, 1, 3};
        for (int32_t input : tested) {
            if (input == 3 && config.fixedThreshold) continue;
            if (stateOf(input) >= 2) continue;  // a streaming input is not looked at
            const float sample = input < counted ? sampleAt(input) : 0.0f;
            if (sample == 0.0f || std::isnan(sample)) combined = 1;
        }
        for (int32_t output : {2, 4}) {
            if (output == 4 && !config.complementary) continue;
            if (output < counted) expected.push_back({output, static_cast<sem::PinState>(combined), clock});
        }
        if (state == 1) states[static_cast<size_t>(pin)] = 0;  // a single change is over once told
        return expected;
    }

private:
    int32_t stateOf(int32_t pin) const { return pin < counted ? states[static_cast<size_t>(pin)] : 0; }

    LatchConfig config;
    int32_t counted = 0;
    std::vector<int32_t> states;
};

}  // namespace testing
