// Soak run: one instance of each of the five deliverables, loaded from its
// built file (or linked in), driven through our host for a long stretch of
// random blocks (random sizes and offsets, now and then a null buffer), with
// random pin-state events, re-opens and close/make cycles. Every output sample
// is compared bit for bit with the reference model, every report with the
// report model, and the words around each block and the inputs inside it are
// checked untouched. Exits 1 on any mismatch.
//
//   soak [--samples N] [--seed S] [--linked] [--dist DIR]
//   N: samples through each deliverable (default 10,000,000); S: seed (default 1).
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plughost/float_bits.h"
#include "complementary/deliverables.h"
#include "fixed_threshold/deliverables.h"
#include "plughost/instance.h"
#include "reference_latch.h"
#include "report_model.h"
#include "sem/entry.h"
#include "variable_threshold/deliverables.h"

namespace {

using plughost::bitsOf;
using plughost::floatOf;

using testing::LatchConfig;

constexpr int32_t kMaxOffset = 64;
constexpr int32_t kMaxFrames = 2048;
constexpr int32_t kGuard = 16;
constexpr int32_t kBufferSize = kGuard + kMaxOffset + kMaxFrames + kGuard;
constexpr uint32_t kTag = 0x7FA5A5A5u;  // a NaN no module writes
constexpr size_t kPool = 1 << 16;       // samples of each prepared input signal
constexpr int kShownMismatches = 10;

// splitmix64: small, fast, and the same on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : state(seed) {}
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    bool chance(uint32_t oneIn) { return below(oneIn) == 0; }

private:
    uint64_t state;
};

// Held runs of values around the thresholds, edge values and plain ones.
std::vector<uint32_t> signalPool(Random& random) {
    const uint32_t special[] = {
        bitsOf(0.333f), bitsOf(std::nextafter(0.333f, 1.0f)), bitsOf(std::nextafter(0.333f, 0.0f)), bitsOf(0.433f),
        bitsOf(0.1f), bitsOf(0.5f), bitsOf(1.0f), bitsOf(-1.0f), 0x00000000u, 0x80000000u, 0x7F800000u,
        0xFF800000u, 0x7FC00000u, 0xFFC00123u, 0x7F800001u, 0x00000001u, 0x007FFFFFu, 0x00800000u,
    };
    std::vector<uint32_t> pool;
    pool.reserve(kPool);
    while (pool.size() < kPool) {
        const uint32_t value = random.chance(3) ? special[random.below(sizeof special / sizeof special[0])]
                                                : bitsOf(-0.2f + 1.1f * static_cast<float>(random.below(1u << 24)) /
                                                                     16777216.0f);
        const uint32_t run = 1 + random.below(random.chance(8) ? 400 : 30);
        for (uint32_t i = 0; i < run && pool.size() < kPool; ++i) pool.push_back(value);
    }
    return pool;
}

struct Deliverable {
    const char* file;
    LatchConfig config;
    sem::GetModulePropertiesFunction getModuleProperties;
    sem::MakeModuleFunction makeModule;
};

template <class Module>
Deliverable deliverable(const char* file, LatchConfig config) {
    return {file, config, &sem::EntryPoints<Module>::getModuleProperties, &sem::EntryPoints<Module>::makeModule};
}

struct Counts {
    uint64_t samples = 0, blocks = 0, skipped = 0, events = 0, reopens = 0, remakes = 0, mismatches = 0;
};

class Soak {
public:
    Soak(const Deliverable& d, plughost::Library& library, uint64_t seed)
        : d(d), library(library), random(seed), model(d.config), reports(d.config) {
        for (int input = 0; input < 3; ++input) pools[input] = signalPool(random);
        for (auto& buffer : buffers) buffer.assign(kBufferSize, kTag);
        describedPins = reports.describedPins();
    }

    Counts run(uint64_t samples) {
        remake();
        while (counts.samples < samples) {
            const uint32_t choice = random.below(1000);
            if (choice < 2) {
                remake();
            } else if (choice < 6) {
                reopen();
            } else if (choice < 60) {
                event();
            } else {
                block(samples - counts.samples);
            }
        }
        instance.reset();
        return counts;
    }

private:
    float* start(int32_t pin) { return reinterpret_cast<float*>(buffers[pin].data() + kGuard); }

    void mismatch(const char* what, int64_t at, uint32_t got, uint32_t want) {
        if (counts.mismatches++ < kShownMismatches)
            std::printf("MISMATCH %s: %s at %" PRId64 " (block %" PRIu64 "): 0x%08X, expected 0x%08X\n", d.file, what, at,
                        counts.blocks, got, want);
    }

    // The first mismatch with the block it sits in, to replay it by hand.
    void showContext(const uint32_t* const (&inputs)[3], int32_t offset, int32_t frames, int32_t i) const {
        std::printf("first mismatch: block at offset %d, %d frames, sample %d of it; set reset threshold before it:\n",
                    offset, frames, i);
        for (int32_t k = std::max(0, i - 4); k <= i; ++k)
            std::printf("  [%d] 0x%08X 0x%08X 0x%08X\n", k, inputs[0][k], inputs[1][k], inputs[2][k]);
    }

    void remake() {
        instance.reset();  // closes the old one
        instance = plughost::Instance::make(library);
        if (!instance) {
            mismatch("makeModule answered null", 0, 0, 1);
            std::exit(1);
        }
        ++counts.remakes;
        for (int32_t pin = 0; pin < describedPins; ++pin) instance->bindBuffer(pin, start(pin));
        // Now and then a host that counts fewer pins than described.
        instance->pinCount = random.chance(4) ? static_cast<int32_t>(random.below(describedPins + 1)) : describedPins;
        reopen();
    }

    void reopen() {
        // A random threshold at element 0, which Open reads.
        const uint32_t atOpen = pools[2][random.below(kPool)];
        buffers[3][kGuard] = atOpen;
        const float thresholdAtOpen = floatOf(atOpen);
        instance->open();
        model.open(describedPins > 3 ? &thresholdAtOpen : nullptr);
        reports.open(instance->pinCount);
        lastOffset = lastFrames = 0;
        ++counts.reopens;
    }

    void event() {
        const int32_t pin = static_cast<int32_t>(random.below(describedPins + 2)) - 1;
        const int32_t state = static_cast<int32_t>(random.below(3));
        const int32_t at = lastFrames > 0 ? lastOffset + static_cast<int32_t>(random.below(lastFrames)) : 0;
        const auto base = static_cast<int32_t>(random.next());
        instance->sampleClock = static_cast<int32_t>(static_cast<uint32_t>(base) + static_cast<uint32_t>(at));
        for (int32_t p = 0; p < describedPins; ++p) instance->blockStartClock[p] = base;
        const auto sampleAt = [&](int32_t p) { return floatOf(buffers[p][kGuard + at]); };
        const std::vector<plughost::StateReport> want = reports.event(pin, state, instance->sampleClock, sampleAt);
        const size_t before = instance->reports.size();
        instance->sendPinState(pin, static_cast<sem::PinState>(state));
        ++counts.events;
        const size_t got = instance->reports.size() - before;
        if (got != want.size()) {
            mismatch("report count", pin, static_cast<uint32_t>(got), static_cast<uint32_t>(want.size()));
            return;
        }
        for (size_t i = 0; i < got; ++i) {
            const plughost::StateReport& g = instance->reports[before + i];
            if (g.pin != want[i].pin || g.state != want[i].state || g.clock != want[i].clock)
                mismatch("report", pin, static_cast<uint32_t>(g.state), static_cast<uint32_t>(want[i].state));
        }
        if (instance->reports.size() > 4096) instance->clearLog();
    }

    void block(uint64_t left) {
        const uint32_t shape = random.below(10);
        uint32_t frames = shape < 1 ? 1 + random.below(8) : shape < 8 ? 1 + random.below(256) : 1 + random.below(kMaxFrames);
        if (frames > left) frames = static_cast<uint32_t>(left);
        const auto n = static_cast<int32_t>(frames);
        const auto offset = static_cast<int32_t>(random.below(kMaxOffset + 1));
        const uint32_t* inputs[3] = {};
        for (int input = 0; input < 3; ++input) inputs[input] = &pools[input][random.below(kPool - frames)];
        const int32_t inputPin[3] = {0, 1, 3};

        // Guards around the block on every pin, inputs inside it, tags where outputs go.
        for (int32_t pin = 0; pin < describedPins; ++pin) {
            uint32_t* b = buffers[pin].data() + kGuard + offset;
            for (int32_t i = -kGuard; i < 0; ++i) b[i] = kTag;
            for (int32_t i = n; i < n + kGuard; ++i) b[i] = kTag;
            if (pin == 2 || pin == 4) std::fill(b, b + n, kTag);
        }
        for (int input = 0; input < 3; ++input)
            if (inputPin[input] < describedPins)
                std::memcpy(buffers[inputPin[input]].data() + kGuard + offset, inputs[input], frames * 4);

        // Now and then a block with one buffer variable null: it is skipped and the state stays.
        const int32_t nulled = random.chance(100) ? static_cast<int32_t>(random.below(describedPins)) : -1;
        if (nulled >= 0) instance->bindBuffer(nulled, nullptr);
        instance->process(offset, n);
        if (nulled >= 0) instance->bindBuffer(nulled, start(nulled));

        for (int32_t pin = 0; pin < describedPins; ++pin) {
            const uint32_t* b = buffers[pin].data() + kGuard + offset;
            for (int32_t i = -kGuard; i < 0; ++i)
                if (b[i] != kTag) mismatch("written before the block", i, b[i], kTag);
            for (int32_t i = n; i < n + kGuard; ++i)
                if (b[i] != kTag) mismatch("written after the block", i, b[i], kTag);
        }
        for (int input = 0; input < 3; ++input) {
            if (inputPin[input] >= describedPins) continue;
            if (std::memcmp(buffers[inputPin[input]].data() + kGuard + offset, inputs[input], frames * 4) != 0)
                mismatch("input changed", inputPin[input], 0, 0);
        }
        const uint32_t* out = buffers[2].data() + kGuard + offset;
        const uint32_t* negOut = d.config.complementary ? buffers[4].data() + kGuard + offset : nullptr;
        if (nulled >= 0) {
            ++counts.skipped;
            for (int32_t i = 0; i < n; ++i)
                if (out[i] != kTag || (negOut && negOut[i] != kTag)) mismatch("skipped block wrote", i, out[i], kTag);
        } else {
            for (int32_t i = 0; i < n; ++i) {
                const float level = model.step(floatOf(inputs[0][i]), floatOf(inputs[1][i]), floatOf(inputs[2][i]));
                if (out[i] != bitsOf(level)) {
                    if (counts.mismatches == 0) showContext(inputs, offset, n, i);
                    mismatch("OUT", static_cast<int64_t>(counts.samples) + i, out[i], bitsOf(level));
                }
                if (negOut && negOut[i] != bitsOf(model.negOut()))
                    mismatch("negOUT", static_cast<int64_t>(counts.samples) + i, negOut[i], bitsOf(model.negOut()));
            }
            counts.samples += frames;
        }
        lastOffset = offset;
        lastFrames = n;
        ++counts.blocks;
    }

    const Deliverable& d;
    plughost::Library& library;
    Random random;
    testing::ReferenceLatch model;
    testing::ReportModel reports;
    std::unique_ptr<plughost::Instance> instance;
    std::vector<uint32_t> pools[3];
    std::vector<uint32_t> buffers[5];
    int32_t describedPins = 0;
    int32_t lastOffset = 0, lastFrames = 0;
    Counts counts;
};

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: soak [--samples N] [--seed S] [--linked] [--dist DIR]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t samples = 10000000, seed = 1;
    bool linked = false;
    std::string dist = SEM_DIST_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--samples" && hasValue)
            samples = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--seed" && hasValue)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--dist" && hasValue)
            dist = argv[++i];
        else if (arg == "--linked")
            linked = true;
        else
            usage();
    }

    const Deliverable deliverables[] = {
        deliverable<latch::OmbrelLatchModule>("Ombrel Latch.sem", testing::kOmbrelLatch),
        deliverable<latch::KestrineNModule>("KestrineN.sem", testing::kKestrineN),
        deliverable<latch::PSKestrineNModule>("pSKestrineN.sem", testing::kPSKestrineN),
        deliverable<latch::OmbrelLatch2Module>("Ombrel_Latch2.sem", testing::kOmbrelLatch2),
        deliverable<latch::KestrineModule>("Kestrine.sem", testing::kKestrine),
    };
    std::printf("soak: %" PRIu64 " samples through each deliverable, seed %" PRIu64 ", %s\n", samples, seed,
                linked ? "classes linked in" : ("files from " + dist).c_str());
    uint64_t checked = 0, mismatches = 0;
    uint64_t index = 0;
    for (const Deliverable& d : deliverables) {
        try {
            plughost::Library library = linked ? plughost::Library::linkedIn(d.getModuleProperties, d.makeModule, d.file)
                                               : plughost::Library::load(dist + "/" + d.file);
            const Counts c = Soak(d, library, seed * 0x100000001B3ull + index++).run(samples);
            std::printf("  %-18s %" PRIu64 " samples in %" PRIu64 " blocks (%" PRIu64 " skipped), %" PRIu64
                        " events, %" PRIu64 " opens, %" PRIu64 " makes: %" PRIu64 " mismatches\n",
                        d.file, c.samples, c.blocks, c.skipped, c.events, c.reopens, c.remakes, c.mismatches);
            checked += c.samples;
            mismatches += c.mismatches;
        } catch (const plughost::LoadError& error) {
            std::printf("  %s: %s\n", d.file, error.what());
            ++mismatches;
        }
    }
    std::printf("soak: %" PRIu64 " samples checked, %" PRIu64 " mismatches\n", checked, mismatches);
    std::fflush(stdout);
    return mismatches == 0 ? 0 : 1;
}
