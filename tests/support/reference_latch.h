// An independent model of the flip-flop rules, written from their description
// rather than from the module code: inputs are classified against the
// threshold, edges are low-to-high transitions of that class, and the level is
// chosen by an explicit table of the four edge combinations.
#pragma once

#include <cmath>
#include <limits>

namespace testing {

struct LatchConfig {
    bool fixedThreshold;  // threshold 0.333 instead of the Threshold input
    bool setWins;         // priority of same-sample crossings
    bool complementary;   // has negOUT
};

inline constexpr LatchConfig kOmbrelLatch{true, false, false};
inline constexpr LatchConfig kKestrineN{false, false, true};
inline constexpr LatchConfig kPSKestrineN{false, true, true};
inline constexpr LatchConfig kOmbrelLatch2{false, false, false};
inline constexpr LatchConfig kKestrine{false, false, false};

class ReferenceLatch {
public:
    explicit ReferenceLatch(LatchConfig config) : config(config) {}

    // thresholdAtOpen: element 0 of the threshold buffer when open runs; null when there is none.
    void open(const float* thresholdAtOpen) {
        const float fixed = 0.333f;
        if (config.fixedThreshold)
            lastSet = static_cast<float>(fixed + 0.1f);
        else
            lastSet = thresholdAtOpen ? static_cast<float>(*thresholdAtOpen + 0.1f) : std::numeric_limits<float>::infinity();
        lastReset = std::numeric_limits<float>::infinity();
        high = false;
    }

    // One sample; returns OUT (negOUT is 0.5 minus it when present).
    float step(float set, float reset, float threshold) {
        const float t = config.fixedThreshold ? 0.333f : threshold;
        const bool setEdge = reached(set, t) && !reached(lastSet, t);
        const bool resetEdge = reached(reset, t) && !reached(lastReset, t);
        if (setEdge && resetEdge)
            high = config.setWins;
        else if (setEdge)
            high = true;
        else if (resetEdge)
            high = false;
        lastSet = set;
        lastReset = reset;
        return out();
    }

    float out() const { return high ? 0.5f : 0.0f; }
    float negOut() const { return high ? 0.0f : 0.5f; }

private:
    // At or above, with an unordered comparison never reaching.
    static bool reached(float x, float t) {
        if (std::isnan(x) || std::isnan(t)) return false;
        return !(x < t);
    }

    LatchConfig config;
    float lastSet = 0.0f;
    float lastReset = 0.0f;
    bool high = false;
};

}  // namespace testing
