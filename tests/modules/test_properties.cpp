// Long random signals through every deliverable in random block splits and
// offsets, compared bit for bit with the reference model; guard zones around
// every buffer and copies of every input catch writes outside the block.
#include <doctest/doctest.h>

#include <cstring>
#include <limits>
#include <random>

#include "complementary/deliverables.h"
#include "fixed_threshold/deliverables.h"
#include "harness.h"
#include "plughost/float_bits.h"
#include "subjects.h"
#include "reference_latch.h"
#include "variable_threshold/deliverables.h"

using namespace testing;

namespace {


// Values where the rules have their edges, and plain ones.
class SignalSource {
public:
    explicit SignalSource(uint32_t seed) : random(seed) {}

    float value() {
        static const float special[] = {
            0.333f, std::nextafter(0.333f, 1.0f), std::nextafter(0.333f, 0.0f), 0.433f, 0.1f, 0.3f, 0.5f,
            0.0f, -0.0f, 1.0f, -1.0f,
            std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
            std::numeric_limits<float>::quiet_NaN(), floatOf(0x7FC00123u), floatOf(0xFFC00000u),
            floatOf(0x7F800001u),  // signalling NaN
            std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
            floatOf(0x007FFFFFu), std::numeric_limits<float>::min(),
        };
        if (pick(3) == 0) return special[pick(sizeof special / sizeof special[0])];
        return std::uniform_real_distribution<float>(-0.2f, 0.9f)(random);
    }

    // A signal of n samples held for random stretches.
    std::vector<float> signal(size_t n) {
        std::vector<float> samples;
        while (samples.size() < n) samples.insert(samples.end(), 1 + pick(40), value());
        samples.resize(n);
        return samples;
    }

    uint32_t pick(size_t n) { return static_cast<uint32_t>(random() % n); }

private:
    std::mt19937 random;
};

constexpr int32_t kGuard = 8;
const uint32_t kTag = 0x7FA5A5A5u;  // a NaN no module writes

struct Block {
    std::vector<float> storage;  // guard, offset + frames samples, guard
    float* start() { return storage.data() + kGuard; }
};

template <class S>
void runProperty(uint32_t seed) {
    CAPTURE(seed);
    SignalSource source(seed);
    const size_t total = 6000;
    const std::vector<float> set = source.signal(total), reset = source.signal(total), threshold = source.signal(total);
    const bool complementary = S::config.complementary;
    const int32_t outputs[] = {kOut, kNegOut};

    auto library = linkedIn<typename S::Class>();
    auto instance = plughost::Instance::make(library);
    REQUIRE(instance);
    ReferenceLatch reference(S::config);
    const auto pinCount = static_cast<int32_t>(instance->pins().size());

    // Open with a threshold buffer of one random value, as a host might have it.
    float thresholdAtOpen = source.value();
    float openBuffer[1] = {thresholdAtOpen};
    for (int32_t pin = 0; pin < pinCount; ++pin) instance->bindBuffer(pin, openBuffer);
    instance->open();
    reference.open(&thresholdAtOpen);

    size_t position = 0;
    int blocks = 0;
    while (position < total) {
        const auto frames = static_cast<int32_t>(std::min<size_t>(source.pick(300), total - position));
        const auto offset = static_cast<int32_t>(source.pick(17));
        const size_t size = kGuard + offset + frames + kGuard;
        Block blocksByPin[5];
        for (int32_t pin = 0; pin < pinCount; ++pin) {
            blocksByPin[pin].storage.assign(size, floatOf(kTag));
            instance->bindBuffer(pin, blocksByPin[pin].start());
        }
        const std::vector<float>* inputs[4] = {&set, &reset, nullptr, &threshold};
        for (int32_t pin : {kSet, kReset, kThreshold}) {
            if (pin >= pinCount) continue;
            for (int32_t i = 0; i < frames; ++i) blocksByPin[pin].start()[offset + i] = (*inputs[pin])[position + i];
        }
        Block before[5];
        for (int32_t pin = 0; pin < pinCount; ++pin) before[pin] = blocksByPin[pin];

        instance->process(offset, frames);

        for (int32_t i = 0; i < frames; ++i) {
            const float out = reference.step(set[position + i], reset[position + i], threshold[position + i]);
            const float expected[] = {out, reference.negOut()};
            for (int k = 0; k < (complementary ? 2 : 1); ++k) {
                const float written = blocksByPin[outputs[k]].start()[offset + i];
                if (bitsOf(written) != bitsOf(expected[k])) {
                    FAIL_CHECK("pin " << outputs[k] << " at sample " << position + i << " (block " << blocks
                                      << ", offset " << offset << ", frames " << frames << "): got " << written
                                      << ", expected " << expected[k]);
                    return;
                }
            }
        }
        for (int32_t pin = 0; pin < pinCount; ++pin) {
            const bool output = pin == kOut || pin == kNegOut;
            for (size_t i = 0; i < size; ++i) {
                const bool insideBlock = i >= static_cast<size_t>(kGuard + offset) &&
                                         i < static_cast<size_t>(kGuard + offset + frames);
                if (output && insideBlock) continue;
                if (bitsOf(blocksByPin[pin].storage[i]) != bitsOf(before[pin].storage[i])) {
                    FAIL_CHECK("pin " << pin << " written outside its block at " << i << " (block " << blocks << ")");
                    return;
                }
            }
        }
        position += static_cast<size_t>(frames);
        ++blocks;
    }
    CHECK(blocks > 10);
}

}  // namespace

TEST_CASE_TEMPLATE("every deliverable matches the reference model on random signals and splits", S, OmbrelLatch,
                   KestrineN, PSKestrineN, OmbrelLatch2, Kestrine) {
    for (uint32_t seed : {1u, 2u, 3u, 20240611u, 987654321u}) runProperty<S>(seed);
}
