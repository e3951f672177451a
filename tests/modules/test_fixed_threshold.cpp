// FixedThresholdLatch through our host: the edge rules at 0.333, state across
// blocks, the block window, and the output state it reports.
#include <doctest/doctest.h>

#include <cmath>
#include <limits>

#include "fixed_threshold/deliverables.h"
#include "harness.h"

using namespace testing;

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const float kDenormal = std::numeric_limits<float>::denorm_min();
constexpr float _ = 0.0f;  // threshold column: this module has no Threshold pin

struct EdgeCase {
    const char* name;
    std::vector<Step> steps;
};

plughost::Library library() { return linkedIn<latch::OmbrelLatchModule>(); }

}  // namespace

TEST_CASE("fixed threshold: rising crossings of 0.333 set and reset the output") {
    const EdgeCase cases[] = {
        {"no crossing: OUT stays 0", {{0.2f, 0.1f, _, 0}, {0.3f, 0.2f, _, 0}, {0.0f, 0.0f, _, 0}}},
        {"exactly 0.333f is a crossing", {{0.2f, 0, _, 0}, {0.333f, 0, _, 0.5f}, {0.333f, 0, _, 0.5f}}},
        {"0.3329 is below", {{0.2f, 0, _, 0}, {0.3329f, 0, _, 0}}},
        {"the float just below 0.333f is below",
         {{0.2f, 0, _, 0}, {std::nextafter(0.333f, 0.0f), 0, _, 0}, {0.333f, 0, _, 0.5f}}},
        {"a steady high input crosses once",
         {{0.2f, 0, _, 0}, {0.8f, 0, _, 0.5f}, {0.8f, 0, _, 0.5f}, {0.8f, 0.5f, _, 0}, {0.8f, 0.5f, _, 0}}},
        {"high from the first step is no edge until it dips",
         {{0.8f, 0, _, 0}, {0.8f, 0, _, 0}, {0.1f, 0, _, 0}, {0.333f, 0, _, 0.5f}}},
        {"same-sample crossings: reset wins from 0", {{0, 0, _, 0}, {0.5f, 0.5f, _, 0}}},
        {"same-sample crossings: reset wins from 0.5",
         {{0, 0, _, 0}, {0.5f, 0, _, 0.5f}, {0, 0, _, 0.5f}, {0.5f, 0.5f, _, 0}}},
        {"reset while low changes nothing", {{0, 0, _, 0}, {0, 0.9f, _, 0}, {0.9f, 0.9f, _, 0.5f}}},
        {"NaN never crosses, and counts as below for the next sample",
         {{0, 0, _, 0}, {kNan, 0, _, 0}, {0.4f, 0, _, 0.5f}, {kNan, kNan, _, 0.5f}, {0.1f, 0.4f, _, 0}}},
        {"negative samples, -0 and denormals are below",
         {{-1.0f, 0, _, 0}, {-0.0f, 0, _, 0}, {kDenormal, 0, _, 0}, {0.34f, 0, _, 0.5f}}},
        {"-inf is below, +inf crosses", {{-kInf, 0, _, 0}, {kInf, 0, _, 0.5f}, {kInf, kInf, _, 0}}},
    };
    for (const EdgeCase& c : cases) {
        CAPTURE(c.name);
        Harness harness(library());
        harness.open();
        CHECK(harness.run(c.steps) == expectedOut(c.steps));
    }
}

TEST_CASE("fixed threshold: a crossing between two blocks is seen at the first sample of the second") {
    Harness harness(library());
    harness.open();
    CHECK(harness.run({{0.0f, 0, _, 0}, {0.1f, 0, _, 0}}) == std::vector<float>{0, 0});
    CHECK(harness.run({{0.5f, 0, _, 0.5f}, {0.5f, 0, _, 0.5f}}, 7) == std::vector<float>{0.5f, 0.5f});
}

TEST_CASE("fixed threshold: only [offset, offset + frames) is written; empty blocks change nothing") {
    Harness harness(library(), 16);
    harness.open();
    float* out = harness.buffer(kOut);
    for (int i = 0; i < 16; ++i) out[i] = -7.0f;
    harness.buffer(kSet)[4] = 0.9f;  // would cross at frame 4
    harness.instance->process(4, 0);
    harness.instance->process(4, -1);
    harness.instance->process(-3, 4);  // a negative offset is outside every buffer
    for (int i = 0; i < 16; ++i) CHECK(out[i] == -7.0f);
    harness.instance->process(3, 5);
    for (int i = 0; i < 16; ++i) {
        CAPTURE(i);
        CHECK(out[i] == (i < 3 || i >= 8 ? -7.0f : i >= 4 ? 0.5f : 0.0f));
    }
    for (const auto& request : harness.instance->requests) CHECK_FALSE(request.duringProcess);
}

TEST_CASE("fixed threshold: open resets the level and the previous set sample") {
    Harness harness(library());
    harness.open();
    CHECK(harness.run({{0.0f, 0, _, 0}, {0.9f, 0, _, 0.5f}}) == std::vector<float>{0, 0.5f});
    harness.instance->clearLog();
    harness.open();
    CHECK(harness.instance->routineChanges == 0);  // the same routine again is no change
    // 0.9 -> 0.9 after open: the previous sample starts at 0.433, so no new crossing and OUT is 0 again.
    CHECK(harness.run({{0.9f, 0, _, 0}}) == std::vector<float>{0});
}

TEST_CASE("fixed threshold: a null buffer skips the block") {
    Harness harness(library(), 8);
    harness.open();
    harness.instance->bindBuffer(kReset, nullptr);
    harness.buffer(kSet)[0] = 0.9f;
    harness.buffer(kOut)[0] = -1.0f;
    harness.instance->process(0, 8);
    CHECK(harness.buffer(kOut)[0] == -1.0f);
}

TEST_CASE("fixed threshold: the output state reported on each pin-state change") {
    struct Case {
        const char* name;
        sem::PinState set, reset;
        float setValue, resetValue;
        int32_t reported;
        std::vector<std::string> requests;
    };
    using S = sem::PinState;
    const Case cases[] = {
        {"both static at 1.0", S::Static, S::Static, 1.0f, 1.0f, 0, {"B0", "C", "B1", "C", "C", "S2=0@5"}},
        {"set streaming, reset static at 0", S::Streaming, S::Static, 0.7f, 0.0f, 1, {"B1", "C", "C", "S2=1@5"}},
        {"both streaming", S::Streaming, S::Streaming, 0.0f, 0.0f, 2, {"C", "S2=2@5"}},
        {"set static at 0, reset static at 1", S::Static, S::Static, 0.0f, 1.0f, 1,
         {"B0", "C", "B1", "C", "C", "S2=1@5"}},
        {"set one change at 0.7, reset static at 0.2", S::OneChange, S::Static, 0.7f, 0.2f, 1,
         {"B0", "C", "B1", "C", "C", "S2=1@5"}},
        {"reset static at -0", S::Streaming, S::Static, 0.5f, -0.0f, 1, {"B1", "C", "C", "S2=1@5"}},
        {"reset static at NaN", S::Streaming, S::Static, 0.5f, kNan, 1, {"B1", "C", "C", "S2=1@5"}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        Harness harness(library());
        harness.open();
        harness.instance->sampleClock = 5;
        harness.instance->blockStartClock = {{0, 2}, {1, 2}};
        harness.buffer(kSet)[3] = c.setValue;
        harness.buffer(kReset)[3] = c.resetValue;
        // The second event carries the case's state for set; reset gets its state first.
        harness.instance->sendPinState(kReset, c.reset);
        harness.instance->clearLog();
        harness.instance->sendPinState(kSet, c.set);
        CHECK(requestSequence(*harness.instance) == c.requests);
        CHECK(harness.instance->lastReport.at(kOut).state == static_cast<sem::PinState>(c.reported));
    }
}

TEST_CASE("fixed threshold: a host counting fewer pins gets no report for a missing output") {
    for (int32_t count : {0, 1, 2}) {
        CAPTURE(count);
        Harness harness(library(), 16, count);
        harness.open();
        for (int32_t pin = -1; pin < 4; ++pin) harness.instance->sendPinState(pin, sem::PinState::Streaming);
        CHECK(harness.instance->reports.empty());
        for (const auto& request : harness.instance->requests)
            CHECK((request.opcode != static_cast<int32_t>(sem::HostOp::GetBlockStartClock) || request.index < count));
    }
}
