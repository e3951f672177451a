// The four per-sample-threshold deliverables through our host: crossings against
// the current threshold sample, the start state open takes from the threshold
// buffer, priorities, negOUT, pin descriptions and reported output states.
#include <doctest/doctest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "complementary/deliverables.h"
#include "fixed_threshold/deliverables.h"
#include "harness.h"
#include "variable_threshold/deliverables.h"

using namespace testing;

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

template <class Module, bool SetWins, bool Complementary>
struct Deliverable {
    using Class = Module;
    static constexpr bool setWins = SetWins;
    static constexpr bool complementary = Complementary;
};
using KestrineN = Deliverable<latch::KestrineNModule, false, true>;
using PSKestrineN = Deliverable<latch::PSKestrineNModule, true, true>;
using OmbrelLatch2 = Deliverable<latch::OmbrelLatch2Module, false, false>;
using Kestrine = Deliverable<latch::KestrineModule, false, false>;

struct EdgeCase {
    const char* name;
    float thresholdAtOpen;
    std::vector<Step> steps;
};

// Runs a case and checks OUT, and negOUT = 0.5 - OUT where the deliverable has it.
template <class D>
void checkCase(const EdgeCase& c) {
    CAPTURE(c.name);
    Harness harness(linkedIn<typename D::Class>());
    harness.open(c.thresholdAtOpen);
    CHECK(harness.run(c.steps) == expectedOut(c.steps));
    if (D::complementary)
        for (size_t i = 0; i < c.steps.size(); ++i) CHECK(harness.buffer(kNegOut)[i] == 0.5f - c.steps[i].out);
}

}  // namespace

TEST_CASE_TEMPLATE("variable threshold: crossings against the current threshold sample", D, KestrineN, PSKestrineN,
                   OmbrelLatch2, Kestrine) {
    const EdgeCase cases[] = {
        {"no crossing: OUT 0 (negOUT 0.5)", 0.333f, {{0.1f, 0.1f, 0.333f, 0}, {0.2f, 0.3f, 0.333f, 0}}},
        {"set then reset at 0.333", 0.333f,
         {{0.2f, 0.0f, 0.333f, 0}, {0.5f, 0.0f, 0.333f, 0.5f}, {0.5f, 0.333f, 0.333f, 0}}},
        {"set then reset at 0.3", 0.3f,
         {{0.0f, 0.1f, 0.3f, 0}, {0.3f, 0.1f, 0.3f, 0.5f}, {0.3f, 0.9f, 0.3f, 0}}},
        {"a steady input never crosses a falling threshold", 0.4f,
         {{0.3f, 0, 0.4f, 0}, {0.3f, 0, 0.3f, 0}, {0.3f, 0, 0.2f, 0}}},
        {"rising past a falling threshold crosses", 0.4f, {{0.3f, 0, 0.4f, 0}, {0.35f, 0, 0.32f, 0.5f}}},
        {"a previous sample already above the new threshold is no crossing", 0.4f,
         {{0.3f, 0, 0.4f, 0}, {0.35f, 0, 0.25f, 0}}},
        {"a rise of the threshold by more than 0.1 since open allows a first-step crossing", 0.2f,
         {{0.6f, 0.0f, 0.5f, 0.5f}}},
        {"an input high at open is no first-step crossing", 0.333f, {{0.8f, 0, 0.333f, 0}}},
        {"a NaN threshold sample stops both crossings", 0.3f,
         {{0.1f, 0.1f, 0.3f, 0}, {0.5f, 0.1f, kNan, 0}, {0.1f, 0.1f, 0.3f, 0}, {0.5f, 0.1f, 0.3f, 0.5f},
          {0.5f, 0.1f, 0.3f, 0.5f}, {0.5f, 0.5f, kNan, 0.5f}}},
        {"NaN at open makes the first step free to cross", kNan, {{0.5f, 0.0f, 0.3f, 0.5f}}},
        {"NaN samples count as below for the next", 0.3f,
         {{kNan, 0, 0.3f, 0}, {0.3f, 0, 0.3f, 0.5f}, {0.3f, kNan, 0.3f, 0.5f}, {0.3f, 0.31f, 0.3f, 0}}},
        {"infinite thresholds", 0.3f,
         {{0.1f, 0, 0.3f, 0}, {kInf, 0, kInf, 0.5f}, {0.0f, 0, -kInf, 0.5f}, {0.1f, 0.1f, -kInf, 0.5f}}},
    };
    for (const EdgeCase& c : cases) checkCase<D>(c);
}

TEST_CASE_TEMPLATE("variable threshold: same-sample crossings follow the deliverable's priority", D, KestrineN,
                   PSKestrineN, OmbrelLatch2, Kestrine) {
    const float winner = D::setWins ? 0.5f : 0.0f;
    const EdgeCase cases[] = {
        {"from low", 0.333f, {{0.1f, 0.1f, 0.333f, 0}, {0.5f, 0.5f, 0.333f, winner}}},
        {"from high", 0.333f,
         {{0.1f, 0.1f, 0.333f, 0}, {0.5f, 0.1f, 0.333f, 0.5f}, {0.1f, 0.1f, 0.333f, 0.5f},
          {0.5f, 0.5f, 0.333f, winner}}},
        // The first step is a set crossing (the threshold rose past previousSet) while reset is
        // already high: previousReset starts at +infinity, so reset is no crossing there.
        {"first step with reset already high", 0.2f, {{0.6f, 0.7f, 0.5f, 0.5f}}},
    };
    for (const EdgeCase& c : cases) checkCase<D>(c);
}

TEST_CASE_TEMPLATE("variable threshold: open reads element 0 of the threshold buffer, whatever the offset", D,
                   KestrineN, Kestrine) {
    Harness harness(linkedIn<typename D::Class>());
    harness.buffer(kThreshold)[5] = 0.0f;  // read here, previousSet would be 0.1 and 0.6 would cross
    harness.open(0.2f);                     // previousSet = 0.3
    // At offset 5, threshold 0.25: previousSet 0.3 is at or above, so 0.6 is no crossing.
    CHECK(harness.run({{0.6f, 0.0f, 0.25f, 0}}, 5) == std::vector<float>{0});
}

TEST_CASE_TEMPLATE("variable threshold: without a threshold buffer open still blocks a first-step set", D, KestrineN,
                   PSKestrineN, OmbrelLatch2, Kestrine) {
    Harness harness(linkedIn<typename D::Class>());
    harness.instance->bindBuffer(kThreshold, nullptr);
    harness.instance->open();
    harness.instance->process(0, 4);  // skipped: no threshold to read
    harness.instance->bindBuffer(kThreshold, harness.buffer(kThreshold));
    CHECK(harness.run({{0.5f, 0.0f, 0.3f, 0}, {0.1f, 0.0f, 0.3f, 0}, {0.5f, 0.0f, 0.3f, 0.5f}}) ==
          std::vector<float>{0, 0, 0.5f});
}

TEST_CASE_TEMPLATE("variable threshold: a second open returns the levels to the start", D, KestrineN, PSKestrineN,
                   Kestrine) {
    Harness harness(linkedIn<typename D::Class>());
    harness.open(0.3f);
    CHECK(harness.run({{0.0f, 0, 0.3f, 0}, {0.9f, 0, 0.3f, 0.5f}}).back() == 0.5f);
    harness.open(0.3f);
    CHECK(harness.run({{0.9f, 0, 0.3f, 0}}) == std::vector<float>{0});
    if (D::complementary) CHECK(harness.buffer(kNegOut)[0] == 0.5f);
}

TEST_CASE("pin descriptions write only their words") {
    struct Row {
        const char* name;
        int32_t direction;
        const char* defaultValue;  // null: not written
        const char* extraText;     // null: not written
    };
    const char* kept = "kept";
    auto check = [&](const plughost::Library& library, const std::vector<Row>& rows) {
        auto instance = plughost::Instance::make(library);
        for (int32_t index = -1; index <= static_cast<int32_t>(rows.size()); ++index) {
            CAPTURE(index);
            sem::PinProperties record;
            std::memset(&record, 0, sizeof record);
            record.defaultValue = kept;
            record.extraText = kept;
            record.flags = 0xDEADBEEF;
            record.reserved = 0xFEEDFACE;
            const bool described = instance->getPinProperties(index, &record);
            CHECK(record.flags == 0xDEADBEEFu);
            CHECK(record.reserved == 0xFEEDFACEu);
            if (index < 0 || index == static_cast<int32_t>(rows.size())) {
                CHECK_FALSE(described);
                CHECK(record.name == nullptr);
                continue;
            }
            REQUIRE(described);
            const Row& row = rows[index];
            CHECK(std::string(record.name) == row.name);
            CHECK(record.direction == row.direction);
            CHECK(record.datatype == 5);
            CHECK(record.variableAddress != nullptr);
            CHECK(std::string(record.defaultValue) == (row.defaultValue ? row.defaultValue : kept));
            CHECK(std::string(record.extraText) == (row.extraText ? row.extraText : kept));
        }
    };
    const std::vector<Row> complementary = {{"upSET", 0, "0", nullptr},
                                            {"upRESET", 0, "0", nullptr},
                                            {"OUT", 1, nullptr, nullptr},
                                            {"Threshold", 0, "3.33", "12,-12,12,-12"},
                                            {"negOUT", 1, nullptr, nullptr}};
    check(linkedIn<latch::KestrineNModule>(), complementary);
    check(linkedIn<latch::PSKestrineNModule>(), complementary);
    check(linkedIn<latch::OmbrelLatch2Module>(),
          {{"upSET", 0, "0", nullptr}, {"upRESET", 0, "0", nullptr}, {"OUT", 1, nullptr, nullptr},
           {"Threshold", 3, "3.333", nullptr}});
    check(linkedIn<latch::KestrineModule>(),
          {{"upSET", 0, "0", nullptr}, {"upRESET", 0, "0", nullptr}, {"OUT", 1, nullptr, nullptr},
           {"Threshold", 0, "3.33", "12,-12,12,-12"}});
    check(linkedIn<latch::OmbrelLatchModule>(),
          {{"upSET", 0, "0", nullptr}, {"upRESET", 0, "0", nullptr}, {"OUT", 1, nullptr, nullptr}});
}

TEST_CASE_TEMPLATE("variable threshold: the output state and the order of its requests", D, KestrineN, OmbrelLatch2) {
    using S = sem::PinState;
    struct Case {
        const char* name;
        S set, reset, threshold;
        float setValue, resetValue, thresholdValue;
        int32_t reported;
        std::vector<std::string> inputRequests;
    };
    const Case cases[] = {
        {"all static at 0.5", S::Static, S::Static, S::Static, 0.5f, 0.5f, 0.5f, 0,
         {"B0", "C", "B1", "C", "B3", "C"}},
        {"inputs static at 0.5, threshold streaming", S::Static, S::Static, S::Streaming, 0.5f, 0.5f, 0.0f, 0,
         {"B0", "C", "B1", "C"}},
        {"set streaming, threshold static at 0", S::Streaming, S::Static, S::Static, 0.0f, 0.5f, 0.0f, 1,
         {"B1", "C", "B3", "C"}},
        {"set streaming, threshold static at 0.333", S::Streaming, S::Static, S::Static, 0.0f, 0.5f, 0.333f, 2,
         {"B1", "C", "B3", "C"}},
        {"set streaming, threshold static at NaN", S::Streaming, S::Static, S::Static, 0.0f, 0.5f, kNan, 1,
         {"B1", "C", "B3", "C"}},
        {"threshold state takes no part in the larger-of", S::Static, S::OneChange, S::Streaming, 0.5f, 0.5f, 0.0f,
         1, {"B0", "C", "B1", "C"}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        Harness harness(linkedIn<typename D::Class>());
        harness.open();
        harness.instance->sampleClock = 1003;
        harness.instance->blockStartClock = {{0, 1000}, {1, 1000}, {3, 1000}};
        harness.buffer(kSet)[3] = c.setValue;
        harness.buffer(kReset)[3] = c.resetValue;
        harness.buffer(kThreshold)[3] = c.thresholdValue;
        harness.instance->sendPinState(kSet, c.set);
        harness.instance->sendPinState(kThreshold, c.threshold);
        harness.instance->clearLog();
        harness.instance->sendPinState(kReset, c.reset);  // the last event decides nothing by itself
        std::vector<std::string> expected = c.inputRequests;
        const std::string state = std::to_string(c.reported);
        expected.insert(expected.end(), {"C", "S2=" + state + "@1003"});
        if (D::complementary) expected.insert(expected.end(), {"C", "S4=" + state + "@1003"});
        CHECK(requestSequence(*harness.instance) == expected);
    }
}

TEST_CASE("complementary: a host counting fewer pins gets reports only for outputs it counted") {
    struct Case {
        int32_t count;
        std::vector<std::string> requests;
    };
    // Pins the host did not count read as Static at 0.0 and take no requests.
    const Case cases[] = {
        {0, {}},
        {2, {"B0", "C", "B1", "C"}},
        {3, {"B0", "C", "B1", "C", "C", "S2=1@0"}},
        {4, {"B0", "C", "B1", "C", "B3", "C", "C", "S2=0@0"}},
        {5, {"B0", "C", "B1", "C", "B3", "C", "C", "S2=0@0", "C", "S4=0@0"}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.count);
        Harness harness(linkedIn<latch::KestrineNModule>(), 16, c.count);
        for (int32_t pin : {kSet, kReset, kThreshold}) harness.buffer(pin)[0] = 0.5f;
        harness.open(0.5f);
        harness.instance->clearLog();
        harness.instance->sendPinState(kSet, sem::PinState::Static);
        CHECK(requestSequence(*harness.instance) == c.requests);
    }
}
