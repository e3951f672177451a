// The per-block sample loops of the flip-flops, SSE2 on both targets. State
// carries from call to call through LatchCarry. Every loop reads all inputs of
// a step before it writes that step's outputs, so an output buffer may be the
// very same buffer as an input (not a shifted overlap of one).
//
// 32 samples at a time become bit words: S (set edges) and R (reset edges).
// "The last event wins" is then a carry chain over the word (an edge that
// wins generates a high level, a winning reset kills it, no edge passes the
// level on), resolved by one 32-bit addition with the carried level as carry-in.
// Remainders run 4 samples at a time with the same words, then latchStep.
// The results are bit for bit those of latchStep applied sample by sample.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "latch_rules.h"

namespace latch {

// outLevel is always kLow or kHigh: the loops carry it as one bit.
struct LatchCarry {
    float previousSet;
    float previousReset;
    float outLevel;
};

namespace kernel {

// Row n holds the levels of the 4 samples whose bits are n, as exact floats.
alignas(16) inline constexpr float kLevelRows[16][4] = {
    {kLow, kLow, kLow, kLow},     {kHigh, kLow, kLow, kLow},     {kLow, kHigh, kLow, kLow},     {kHigh, kHigh, kLow, kLow},
    {kLow, kLow, kHigh, kLow},    {kHigh, kLow, kHigh, kLow},    {kLow, kHigh, kHigh, kLow},    {kHigh, kHigh, kHigh, kLow},
    {kLow, kLow, kLow, kHigh},    {kHigh, kLow, kLow, kHigh},    {kLow, kHigh, kLow, kHigh},    {kHigh, kHigh, kLow, kHigh},
    {kLow, kLow, kHigh, kHigh},   {kHigh, kLow, kHigh, kHigh},   {kLow, kHigh, kHigh, kHigh},   {kHigh, kHigh, kHigh, kHigh},
};

// One bit per lane of Vectors all-ones-or-zero compare masks, lane order kept.
template <int Vectors>
inline uint32_t packMasks(const __m128 (&masks)[Vectors]) {
    if constexpr (Vectors == 1) {
        return static_cast<uint32_t>(_mm_movemask_ps(masks[0]));
    } else {
        static_assert(Vectors == 8);
        // Saturating packs keep all-ones as all-ones and zero as zero.
        const auto half = [&masks](int first) {
            return _mm_movemask_epi8(_mm_packs_epi16(
                _mm_packs_epi32(_mm_castps_si128(masks[first]), _mm_castps_si128(masks[first + 1])),
                _mm_packs_epi32(_mm_castps_si128(masks[first + 2]), _mm_castps_si128(masks[first + 3]))));
        };
        return static_cast<uint32_t>(half(0)) | (static_cast<uint32_t>(half(4)) << 16);
    }
}

// The level after each sample of a word (bit i: after sample i), from the
// word's edges and the level bit before it; level becomes the bit after the last sample.
template <LatchPriority Priority, int Vectors>
inline uint32_t resolveLevels(uint32_t setEdges, uint32_t resetEdges, uint32_t& level) {
    const bool resetWins = Priority == LatchPriority::ResetWins;
    const uint32_t generate = resetWins ? setEdges & ~resetEdges : setEdges;
    const uint32_t kill = resetWins ? resetEdges : resetEdges & ~setEdges;
    const uint32_t propagate = ~(generate | kill);
    // generate + (generate | propagate) + level carries into bit i + 1 exactly
    // when the level after sample i is high; at a propagating position the sum
    // bit is the inverse of the carry into it.
    const uint32_t sum = generate + ~kill + level;
    const uint32_t levels = generate | (propagate & ~sum);
    level = (levels >> (4 * Vectors - 1)) & 1u;
    return levels;
}

// One threshold for every sample: each sample is compared once, and the
// "previous at or above" word is the same word moved on by one sample.
class ConstantThreshold {
public:
    explicit ConstantThreshold(float threshold) : value(threshold), vector(_mm_set1_ps(threshold)) {}

    template <int Vectors>
    void load(int32_t) {}

    // previousSample: the exact sample before the step, in lane 0.
    template <int Vectors>
    uint32_t edges(const __m128 (&samples)[Vectors], const float*, int32_t, __m128 previousSample) const {
        __m128 above[Vectors];
        #pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) above[v] = _mm_cmpge_ps(samples[v], vector);
        const uint32_t aboveBits = packMasks<Vectors>(above);
        const auto previousAbove = static_cast<uint32_t>(_mm_movemask_ps(_mm_cmpge_ss(previousSample, vector)) & 1);
        return aboveBits & ~((aboveBits << 1) | previousAbove);
    }

    float at(int32_t) const { return value; }

private:
    float value;
    __m128 vector;
};

// A threshold per sample: each previous sample is compared with the current
// sample's threshold. Within a step the previous samples are one float back in
// the input; the step's first sample takes the carried one, as an output that
// is the same buffer may already hold the step before.
class PerSampleThreshold {
public:
    explicit PerSampleThreshold(const float* threshold) : threshold(threshold) {}

    // The step's thresholds, loaded once for both inputs.
    template <int Vectors>
    void load(int32_t i) {
        #pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) current[v] = _mm_loadu_ps(threshold + i + 4 * v);
    }

    template <int Vectors>
    uint32_t edges(const __m128 (&samples)[Vectors], const float* input, int32_t i, __m128 previousSample) const {
        __m128 edge[Vectors];
        #pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) {
            const __m128 previous =
                v == 0 ? _mm_move_ss(_mm_shuffle_ps(samples[0], samples[0], _MM_SHUFFLE(2, 1, 0, 0)), previousSample)
                       : _mm_loadu_ps(input + i + 4 * v - 1);
            edge[v] = _mm_andnot_ps(_mm_cmpge_ps(previous, current[v]), _mm_cmpge_ps(samples[v], current[v]));
        }
        return packMasks<Vectors>(edge);
    }

    float at(int32_t i) const { return threshold[i]; }

private:
    const float* threshold;
    __m128 current[8];
};

// State between steps: the exact last samples (lane 0) and the level bit.
struct StepState {
    __m128 previousSet;
    __m128 previousReset;
    uint32_t level;
};

// Vectors x 4 samples from i: all inputs are read before any output is written.
template <LatchPriority Priority, bool Complementary, int Vectors, class Threshold>
inline void step(const float* set, const float* reset, Threshold& threshold, float* out, float* negOut, int32_t i,
                 StepState& state) {
    __m128 s[Vectors], r[Vectors];
    #pragma GCC unroll 8
    for (int v = 0; v < Vectors; ++v) {
        s[v] = _mm_loadu_ps(set + i + 4 * v);
        r[v] = _mm_loadu_ps(reset + i + 4 * v);
    }
    threshold.template load<Vectors>(i);
    const uint32_t setEdges = threshold.template edges<Vectors>(s, set, i, state.previousSet);
    const uint32_t resetEdges = threshold.template edges<Vectors>(r, reset, i, state.previousReset);
    state.previousSet = _mm_shuffle_ps(s[Vectors - 1], s[Vectors - 1], _MM_SHUFFLE(3, 3, 3, 3));
    state.previousReset = _mm_shuffle_ps(r[Vectors - 1], r[Vectors - 1], _MM_SHUFFLE(3, 3, 3, 3));
    const uint32_t levels = resolveLevels<Priority, Vectors>(setEdges, resetEdges, state.level);

    // kHigh - level is kLow (+0) for kHigh and kHigh for kLow: the complement's row.
    #pragma GCC unroll 8
    for (int v = 0; v < Vectors; ++v) {
        _mm_storeu_ps(out + i + 4 * v, _mm_load_ps(kLevelRows[(levels >> (4 * v)) & 15u]));
        if constexpr (Complementary) _mm_storeu_ps(negOut + i + 4 * v, _mm_load_ps(kLevelRows[(~levels >> (4 * v)) & 15u]));
    }
}

// Whether all of frames (> 0) thresholds have the bits of the first; stops at
// the first 16 samples that differ.
inline bool thresholdHolds(const float* threshold, int32_t frames) {
    const __m128i first = _mm_castps_si128(_mm_load1_ps(threshold));
    int32_t i = 0;
    for (; i + 16 <= frames; i += 16) {
        __m128i same = _mm_cmpeq_epi32(_mm_castps_si128(_mm_loadu_ps(threshold + i)), first);
        #pragma GCC unroll 4
        for (int v = 1; v < 4; ++v)
            same = _mm_and_si128(same, _mm_cmpeq_epi32(_mm_castps_si128(_mm_loadu_ps(threshold + i + 4 * v)), first));
        if (_mm_movemask_epi8(same) != 0xFFFF) return false;
    }
    for (; i < frames; ++i)
        if ((_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_castps_si128(_mm_load_ss(threshold + i)), first)) & 0xF) != 0xF)
            return false;
    return true;
}

// Steps of 32 samples, then of 4, then latchStep over the last 0..3.
template <LatchPriority Priority, bool Complementary, class Threshold>
inline void run(const float* set, const float* reset, Threshold threshold, float* out, float* negOut, int32_t frames,
                LatchCarry& carry) {
    StepState state{_mm_load_ss(&carry.previousSet), _mm_load_ss(&carry.previousReset),
                    carry.outLevel == kHigh ? 1u : 0u};
    int32_t i = 0;
    for (; i + 32 <= frames; i += 32) step<Priority, Complementary, 8>(set, reset, threshold, out, negOut, i, state);
    for (; i + 4 <= frames; i += 4) step<Priority, Complementary, 1>(set, reset, threshold, out, negOut, i, state);
    float previousSet = _mm_cvtss_f32(state.previousSet);
    float previousReset = _mm_cvtss_f32(state.previousReset);
    float level = state.level ? kHigh : kLow;
    for (; i < frames; ++i) {
        level = latchStep<Priority>(set[i], reset[i], threshold.at(i), previousSet, previousReset, level);
        out[i] = level;
        if constexpr (Complementary) negOut[i] = kHigh - level;
    }
    carry = {previousSet, previousReset, level};
}

}  // namespace kernel

template <LatchPriority Priority>
void runFixedThreshold(const float* set, const float* reset, float threshold, float* out, int32_t frames,
                       LatchCarry& carry) {
    kernel::run<Priority, false>(set, reset, kernel::ConstantThreshold(threshold), out, nullptr, frames, carry);
}

// negOut, when Complementary, receives kHigh - level at every sample.
template <LatchPriority Priority, bool Complementary>
void runVariableThreshold(const float* set, const float* reset, const float* threshold, float* out, float* negOut,
                          int32_t frames, LatchCarry& carry) {
    // A threshold held over the whole block (the usual case) crosses exactly
    // like a constant one, which compares each sample once.
    if (frames > 0 && kernel::thresholdHolds(threshold, frames))
        kernel::run<Priority, Complementary>(set, reset, kernel::ConstantThreshold(threshold[0]), out, negOut, frames,
                                             carry);
    else
        kernel::run<Priority, Complementary>(set, reset, kernel::PerSampleThreshold(threshold), out, negOut, frames,
                                             carry);
}

}  // namespace latch
