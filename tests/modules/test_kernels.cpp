// Every instantiation of the sample loops against latchStep applied sample by
// sample, bit for bit: long random signals full of the values where the rules
// have their edges, cut into random blocks at every alignment, with outputs,
// guard zones and the carried state compared after every block.
#include <doctest/doctest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/latch_kernel.h"
#include "plughost/float_bits.h"

using latch::LatchCarry;
using latch::LatchPriority;

namespace {

using plughost::bitsOf;
using plughost::floatOf;

// Samples travel as bit patterns: on i386 a float returned by value passes
uint32_t nextUp(uint32_t positiveBits, int32_t ulps) { return positiveBits + static_cast<uint32_t>(ulps); }

const uint32_t k0333 = bitsOf(0.333f);

// Thresholds the per-sample input takes, and the fixed loop is run with.
const uint32_t kThresholds[] = {
    k0333, k0333, k0333, bitsOf(0.0f), 0x80000000u /* -0 */, bitsOf(0.5f), bitsOf(-0.25f),
    0x00000001u /* smallest denormal */, 0x7F800000u /* inf */, 0xFF800000u /* -inf */, 0x7FC00000u /* NaN */,
    0x7F800001u /* signalling NaN */,
};

// Input values: the thresholds themselves, 0.333 and its neighbours, signed
// zeros, NaNs of several payloads and signs, infinities, denormals.
const uint32_t kSpecialSamples[] = {
    k0333, nextUp(k0333, 1), nextUp(k0333, -1), nextUp(k0333, 2), nextUp(k0333, -2),
    bitsOf(0.0f), 0x80000000u, bitsOf(0.5f), bitsOf(-0.25f), bitsOf(1.0f), bitsOf(-1.0f),
    0x7FC00000u, 0xFFC00000u, 0x7FC00123u, 0x7FFFFFFFu, 0xFFFFFFFFu,
    0x7F800001u, 0xFF800001u, 0x7FA00000u,  // signalling NaNs
    0x7F800000u, 0xFF800000u,
    0x00000001u, 0x80000001u, 0x007FFFFFu, 0x807FFFFFu, 0x00400000u, 0x00800000u,
};

template <size_t N>
uint32_t pickFrom(std::mt19937& random, const uint32_t (&values)[N]) {
    return values[random() % N];
}

float uniform(std::mt19937& random, float low, float high) {
    return std::uniform_real_distribution<float>(low, high)(random);
}

// Stretches of held values: mostly short (dense edges, set and reset on the
// same sample), some long (whole steps without an edge).
std::vector<uint32_t> inputSignal(std::mt19937& random, size_t n) {
    std::vector<uint32_t> samples;
    while (samples.size() < n) {
        uint32_t value;
        if (random() % 2 == 0)
            value = random() % 3 == 0 ? pickFrom(random, kThresholds) : pickFrom(random, kSpecialSamples);
        else
            value = bitsOf(uniform(random, -0.5f, 1.2f));
        const uint32_t kind = random() % 10;
        const size_t hold = 1 + random() % (kind < 6 ? 3 : kind < 9 ? 40 : 300);
        samples.insert(samples.end(), hold, value);
    }
    samples.resize(n);
    return samples;
}

// A threshold held for long stretches with blips of one or two samples, so
// that blocks held but for one sample anywhere in them are common.
std::vector<uint32_t> thresholdSignal(std::mt19937& random, size_t n) {
    std::vector<uint32_t> samples;
    uint32_t held = k0333;
    while (samples.size() < n) {
        const uint32_t kind = random() % 8;
        if (kind == 0) held = random() % 3 == 0 ? bitsOf(uniform(random, -0.3f, 0.8f)) : pickFrom(random, kThresholds);
        if (kind < 3) {
            const uint32_t blip = random() % 2 ? bitsOf(uniform(random, -0.3f, 0.8f)) : pickFrom(random, kThresholds);
            samples.insert(samples.end(), 1 + random() % 2, blip);
        } else {
            samples.insert(samples.end(), 1 + random() % (kind < 5 ? 8 : 120), held);
        }
    }
    samples.resize(n);
    return samples;
}

constexpr int32_t kGuard = 8;
constexpr uint32_t kTag = 0x7FA5A5A5u;  // a NaN the loops never write

// One buffer of n samples, starting `misalignment` floats past a 16-byte boundary,
// with tagged guard zones on both sides.
class Buffer {
public:
    Buffer(size_t n, int32_t misalignment) : storage(n + 2 * kGuard + 8), size(n) {
        auto address = reinterpret_cast<uintptr_t>(storage.data());
        const size_t skip = ((16 - address % 16) % 16) / sizeof(float);
        first = storage.data() + skip + kGuard + misalignment;
        fill(kTag);
    }

    float* data() { return first; }
    void fill(uint32_t bits) {
        for (float& value : storage) std::memcpy(&value, &bits, sizeof bits);
    }
    void assign(const std::vector<uint32_t>& bits) { std::memcpy(first, bits.data(), bits.size() * sizeof bits[0]); }
    uint32_t at(ptrdiff_t i) const {
        uint32_t bits;
        std::memcpy(&bits, first + i, sizeof bits);
        return bits;
    }
    // The first guard sample that is no longer the tag; -1 when none.
    ptrdiff_t damagedGuard() const {
        for (ptrdiff_t i = -kGuard; i < 0; ++i)
            if (at(i) != kTag) return i;
        for (ptrdiff_t i = static_cast<ptrdiff_t>(size); i < static_cast<ptrdiff_t>(size) + kGuard; ++i)
            if (at(i) != kTag) return i;
        return -1;
    }

private:
    std::vector<float> storage;
    size_t size;
    float* first;
};

struct Io {
    const float* set;
    const float* reset;
    const float* threshold;  // element 0 holds the fixed threshold for the fixed loop
    float* out;
    float* negOut;
};

// The loop under test over [begin, begin + frames).
template <LatchPriority Priority, bool PerSample, bool Complementary>
void runKernel(const Io& io, int32_t begin, int32_t frames, LatchCarry& carry) {
    if constexpr (PerSample)
        latch::runVariableThreshold<Priority, Complementary>(io.set + begin, io.reset + begin, io.threshold + begin,
                                                             io.out + begin, Complementary ? io.negOut + begin : nullptr,
                                                             frames, carry);
    else
        latch::runFixedThreshold<Priority>(io.set + begin, io.reset + begin, io.threshold[0], io.out + begin, frames,
                                           carry);
}

// The scalar rule, one sample at a time.
template <LatchPriority Priority, bool PerSample, bool Complementary>
void runReference(const Io& io, int32_t begin, int32_t frames, LatchCarry& carry) {
    for (int32_t i = begin; i < begin + frames; ++i) {
        carry.outLevel = latch::latchStep<Priority>(io.set[i], io.reset[i], PerSample ? io.threshold[i] : io.threshold[0],
                                                    carry.previousSet, carry.previousReset, carry.outLevel);
        io.out[i] = carry.outLevel;
        if (Complementary) io.negOut[i] = latch::kHigh - carry.outLevel;
    }
}

using Runner = void (*)(const Io&, int32_t, int32_t, LatchCarry&);

struct KernelCase {
    const char* name;
    bool perSample;
    bool complementary;
    Runner kernel;
    Runner reference;
};

template <LatchPriority Priority, bool PerSample, bool Complementary>
constexpr KernelCase kernelCase(const char* name) {
    return {name, PerSample, Complementary, &runKernel<Priority, PerSample, Complementary>,
            &runReference<Priority, PerSample, Complementary>};
}

const KernelCase kKernelCases[] = {
    kernelCase<LatchPriority::ResetWins, false, false>("fixed, reset wins"),
    kernelCase<LatchPriority::SetWins, false, false>("fixed, set wins"),
    kernelCase<LatchPriority::ResetWins, true, false>("per-sample, reset wins"),
    kernelCase<LatchPriority::SetWins, true, false>("per-sample, set wins"),
    kernelCase<LatchPriority::ResetWins, true, true>("per-sample, reset wins, complementary"),
    kernelCase<LatchPriority::SetWins, true, true>("per-sample, set wins, complementary"),
};

std::string carryText(const LatchCarry& carry) {
    char text[80];
    std::snprintf(text, sizeof text, "{%08x, %08x, %08x}", static_cast<unsigned>(bitsOf(carry.previousSet)),
                  static_cast<unsigned>(bitsOf(carry.previousReset)), static_cast<unsigned>(bitsOf(carry.outLevel)));
    return text;
}

bool sameBits(const LatchCarry& a, const LatchCarry& b) {
    return bitsOf(a.previousSet) == bitsOf(b.previousSet) && bitsOf(a.previousReset) == bitsOf(b.previousReset) &&
           bitsOf(a.outLevel) == bitsOf(b.outLevel);
}

LatchCarry randomCarry(std::mt19937& random) {
    LatchCarry carry{};
    const uint32_t set = pickFrom(random, kSpecialSamples);
    const uint32_t reset = pickFrom(random, kSpecialSamples);
    std::memcpy(&carry.previousSet, &set, sizeof set);
    std::memcpy(&carry.previousReset, &reset, sizeof reset);
    carry.outLevel = random() % 2 ? latch::kHigh : latch::kLow;
    return carry;
}

// Block lengths: every remainder of the 32- and 4-sample steps, and long blocks.
int32_t blockLength(std::mt19937& random) {
    const uint32_t kind = random() % 10;
    if (kind < 7) return static_cast<int32_t>(random() % 71);
    if (kind < 9) return 71 + static_cast<int32_t>(random() % 400);
    return 471 + static_cast<int32_t>(random() % 3000);
}

// The signals of one run, and the reference's outputs over them.
struct Signals {
    std::vector<uint32_t> set, reset, threshold;
};

Signals randomSignals(std::mt19937& random, size_t n, bool perSample) {
    Signals signals{inputSignal(random, n), inputSignal(random, n), {}};
    signals.threshold = perSample ? thresholdSignal(random, n) : std::vector<uint32_t>(n, pickFrom(random, kThresholds));
    return signals;
}

// Runs one case over one signal in random blocks and checks every block.
void checkAgainstReference(const KernelCase& test, uint32_t seed, int32_t alignment) {
    std::mt19937 random(seed);
    const auto n = static_cast<int32_t>(12000 + random() % 4000);
    const Signals signals = randomSignals(random, static_cast<size_t>(n), test.perSample);

    // Each buffer at its own alignment, so that every pairing occurs across runs.
    Buffer set(n, alignment), reset(n, (alignment + 1) % 4), threshold(n, (alignment + 2) % 4);
    Buffer out(n, (alignment + 3) % 4), negOut(n, alignment), expectedOut(n, 0), expectedNegOut(n, 0);
    set.assign(signals.set);
    reset.assign(signals.reset);
    threshold.assign(signals.threshold);
    const Io io{set.data(), reset.data(), threshold.data(), out.data(), negOut.data()};
    const Io reference{set.data(), reset.data(), threshold.data(), expectedOut.data(), expectedNegOut.data()};

    LatchCarry carry = randomCarry(random);
    LatchCarry expectedCarry = carry;
    for (int32_t begin = 0; begin < n;) {
        const int32_t frames = std::min(blockLength(random), n - begin);
        test.kernel(io, begin, frames, carry);
        test.reference(reference, begin, frames, expectedCarry);
        for (int32_t i = begin; i < begin + frames; ++i) {
            const bool outMatches = out.at(i) == expectedOut.at(i);
            const bool negMatches = !test.complementary || negOut.at(i) == expectedNegOut.at(i);
            if (!outMatches || !negMatches) {
                INFO("block at ", begin, " of ", frames, " frames, sample ", i, ": set ", set.at(i), " reset ",
                     reset.at(i), " threshold ", threshold.at(test.perSample ? i : 0), " out ", out.at(i),
                     " expected ", expectedOut.at(i), " negOut ", negOut.at(i), " expected ", expectedNegOut.at(i));
                REQUIRE(false);
            }
        }
        INFO("block at ", begin, " of ", frames, " frames: carry ", carryText(carry), " expected ",
             carryText(expectedCarry));
        REQUIRE(sameBits(carry, expectedCarry));
        // Nothing after the block is touched yet.
        if (begin + frames < n) REQUIRE(out.at(begin + frames) == kTag);
        if (test.complementary && begin + frames < n) REQUIRE(negOut.at(begin + frames) == kTag);
        begin += frames;
    }
    CHECK(out.damagedGuard() == -1);
    CHECK(negOut.damagedGuard() == -1);
    if (!test.complementary) CHECK(negOut.at(0) == kTag);
}

}  // namespace

TEST_CASE("each sample loop gives latchStep's outputs and carried state bit for bit") {
    for (const KernelCase& test : kKernelCases) {
        for (int32_t alignment = 0; alignment < 4; ++alignment) {
            for (uint32_t seed = 1; seed <= 3; ++seed) {
                CAPTURE(test.name);
                CAPTURE(alignment);
                CAPTURE(seed);
                checkAgainstReference(test, seed * 7919u + static_cast<uint32_t>(alignment), alignment);
            }
        }
    }
}

TEST_CASE("an output that is the same buffer as an input gives what separate buffers give") {
    // Which input each output overwrites in place.
    enum Input { kSetIn, kResetIn, kThresholdIn, kNone };
    struct AliasCase {
        const char* name;
        Input out;
        Input negOut;
    };
    const AliasCase aliasCases[] = {
        {"OUT over upSET", kSetIn, kNone},
        {"OUT over upRESET", kResetIn, kNone},
        {"OUT over Threshold", kThresholdIn, kNone},
        {"negOUT over upSET, OUT over upRESET", kResetIn, kSetIn},
        {"negOUT over Threshold", kNone, kThresholdIn},
    };
    for (const KernelCase& test : kKernelCases) {
        for (const AliasCase& alias : aliasCases) {
            if (!test.perSample && (alias.out == kThresholdIn || alias.negOut != kNone)) continue;
            if (!test.complementary && alias.negOut != kNone) continue;
            CAPTURE(test.name);
            CAPTURE(alias.name);
            std::mt19937 random(4242);
            const int32_t n = 5000;
            const Signals signals = randomSignals(random, n, test.perSample);
            Buffer inputs[3] = {Buffer(n, 1), Buffer(n, 2), Buffer(n, 3)};
            inputs[kSetIn].assign(signals.set);
            inputs[kResetIn].assign(signals.reset);
            inputs[kThresholdIn].assign(signals.threshold);
            Buffer expectedOut(n, 0), expectedNegOut(n, 0), out(n, 0), negOut(n, 0);

            const Io reference{inputs[kSetIn].data(), inputs[kResetIn].data(), inputs[kThresholdIn].data(),
                               expectedOut.data(), expectedNegOut.data()};
            LatchCarry expectedCarry = randomCarry(random);
            LatchCarry carry = expectedCarry;
            test.reference(reference, 0, n, expectedCarry);

            const Io inPlace{reference.set, reference.reset, reference.threshold,
                             alias.out == kNone ? out.data() : inputs[alias.out].data(),
                             alias.negOut == kNone ? negOut.data() : inputs[alias.negOut].data()};
            for (int32_t begin = 0; begin < n;) {
                const int32_t frames = std::min(blockLength(random), n - begin);
                test.kernel(inPlace, begin, frames, carry);
                begin += frames;
            }
            REQUIRE(sameBits(carry, expectedCarry));
            const Buffer& gotOut = alias.out == kNone ? out : inputs[alias.out];
            const Buffer& gotNegOut = alias.negOut == kNone ? negOut : inputs[alias.negOut];
            for (int32_t i = 0; i < n; ++i) {
                CAPTURE(i);
                REQUIRE(gotOut.at(i) == expectedOut.at(i));
                if (test.complementary) REQUIRE(gotNegOut.at(i) == expectedNegOut.at(i));
            }
        }
    }
}

TEST_CASE("a per-sample threshold is honoured at every position of every block length") {
    // Around position p the threshold leaves its held value for one sample
    // while upSET rises: a held-threshold shortcut or a previous sample
    // compared with the wrong threshold shows up as a wrong level at p.
    struct Blip {
        const char* name;
        float heldThreshold, thresholdAtP;
        float setBefore, setFromP;
    };
    const Blip blips[] = {
        {"threshold jumps over the rising sample", 0.333f, 2.0f, 0.0f, 1.0f},
        {"threshold steps above the previous sample", 0.1f, 0.333f, 0.2f, 0.5f},
    };
    for (const KernelCase& test : kKernelCases) {
        if (!test.perSample) continue;
        for (const Blip& blip : blips) {
            for (int32_t frames = 1; frames <= 100; ++frames) {
                for (int32_t p = 0; p < frames; ++p) {
                    std::vector<float> set(frames, blip.setBefore), reset(frames, 0.0f);
                    std::vector<float> threshold(frames, blip.heldThreshold);
                    std::fill(set.begin() + p, set.end(), blip.setFromP);
                    threshold[p] = blip.thresholdAtP;
                    std::vector<float> out(frames), negOut(frames), expectedOut(frames), expectedNegOut(frames);
                    const LatchCarry start{blip.setBefore, 0.0f, latch::kLow};
                    LatchCarry carry = start, expectedCarry = start;
                    test.kernel({set.data(), reset.data(), threshold.data(), out.data(), negOut.data()}, 0, frames,
                                carry);
                    test.reference({set.data(), reset.data(), threshold.data(), expectedOut.data(),
                                    expectedNegOut.data()},
                                   0, frames, expectedCarry);
                    CAPTURE(test.name);
                    CAPTURE(blip.name);
                    CAPTURE(frames);
                    CAPTURE(p);
                    REQUIRE(out == expectedOut);
                    if (test.complementary) REQUIRE(negOut == expectedNegOut);
                    REQUIRE(sameBits(carry, expectedCarry));
                }
            }
        }
    }
}
