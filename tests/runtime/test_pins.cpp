// Building the pin table from the host's count and the module's descriptions,
// and the Pin's traffic with the host.
#include <doctest/doctest.h>

#include "probe_module.h"

using namespace testing;
using sem::HostOp;

namespace {

constexpr int32_t kAudio = 5;
constexpr uint32_t kRepeat = sem::PinFlags::Repeat;
constexpr uint32_t kNoPin = sem::PinFlags::NoPin;
constexpr uint32_t kForcePin = sem::PinFlags::ForcePin;

// What a built pin should be: its datatype and whose storage it uses.
enum class Storage { Variable, Own, None, Unfilled };
struct ExpectedPin {
    int32_t datatype;
    Storage storage;
    int32_t description;  // for Variable: whose module variable
};

struct TableCase {
    const char* name;
    int32_t hostCount;
    std::vector<ProbeDescription> descriptions;
    std::vector<int32_t> queries;
    std::vector<ExpectedPin> pins;
    std::vector<int32_t> bufferRequests;  // GetPinBuffer indexes, in order
};

const ProbeDescription audio{kAudio, 0, true};

}  // namespace

TEST_CASE("the pin table is built from the host's count and the descriptions") {
    const TableCase cases[] = {
        {"count equals descriptions", 3, {audio, audio, audio}, {0, 1, 2, 3, 2},
         {{5, Storage::Variable, 0}, {5, Storage::Variable, 1}, {5, Storage::Variable, 2}}, {}},
        {"count below descriptions asks one past the last used", 2, {audio, audio, audio}, {0, 1, 2, 1},
         {{5, Storage::Variable, 0}, {5, Storage::Variable, 1}}, {}},
        {"Repeat on the last fills the rest with own buffers", 5, {audio, audio, {kAudio, kRepeat, true}},
         {0, 1, 2, 3, 2},
         {{5, Storage::Variable, 0}, {5, Storage::Variable, 1}, {5, Storage::Variable, 2}, {5, Storage::Own, -1},
          {5, Storage::Own, -1}},
         {3, 4}},
        {"without Repeat extra entries stay unfilled", 5, {audio, audio, audio}, {0, 1, 2, 3, 2},
         {{5, Storage::Variable, 0}, {5, Storage::Variable, 1}, {5, Storage::Variable, 2}, {0, Storage::Unfilled, 0},
          {0, Storage::Unfilled, 0}},
         {}},
        {"NoPin takes no index", 2, {audio, {kAudio, kNoPin, true}, audio}, {0, 1, 2, 3, 2},
         {{5, Storage::Variable, 0}, {5, Storage::Variable, 2}}, {}},
        {"ForcePin cancels NoPin", 2, {audio, {kAudio, kNoPin | kForcePin, true}}, {0, 1, 2, 1},
         {{5, Storage::Variable, 0}, {5, Storage::Variable, 1}}, {}},
        {"Repeat before the last does nothing", 4, {{kAudio, kRepeat, true}, audio}, {0, 1, 2, 1},
         {{5, Storage::Variable, 0}, {5, Storage::Variable, 1}, {0, Storage::Unfilled, 0}, {0, Storage::Unfilled, 0}},
         {}},
        {"Repeat on a NoPin last builds nothing", 3, {audio, {kAudio, kRepeat | kNoPin, true}}, {0, 1, 2, 1},
         {{5, Storage::Variable, 0}, {0, Storage::Unfilled, 0}, {0, Storage::Unfilled, 0}}, {}},
        {"count 0 builds no table and asks for 0 and -1", 0, {audio, audio}, {0, -1}, {}, {}},
        {"negative count is no table", -4, {audio}, {0, -1}, {}, {}},
        {"no descriptions asks for 0 then -1", 2, {}, {0, -1},
         {{0, Storage::Unfilled, 0}, {0, Storage::Unfilled, 0}}, {}},
        {"own storage by datatype", 6,
         {{0, 0, false}, {4, 0, false}, {6, 0, false}, {8, 0, false}, {1, 0, false}, {kAudio, 0, false}},
         {0, 1, 2, 3, 4, 5, 6, 5},
         {{0, Storage::Own, -1}, {4, Storage::Own, -1}, {6, Storage::Own, -1}, {8, Storage::Own, -1},
          {1, Storage::None, -1}, {5, Storage::Own, -1}},
         {5}},
    };
    auto library = probeLibrary();
    for (const TableCase& c : cases) {
        CAPTURE(c.name);
        ProbeModule::descriptions() = c.descriptions;
        auto instance = plughost::Instance::make(library);
        instance->pinCount = c.hostCount;
        float hostBuffers[8][4] = {};
        for (int32_t pin = 0; pin < 8; ++pin) instance->bindBuffer(pin, hostBuffers[pin]);
        ProbeModule& probe = probeOf(*instance);
        probe.queried.clear();
        instance->clearLog();
        instance->open();

        CHECK(probe.queried == c.queries);
        CHECK(probe.pinCount() == static_cast<int32_t>(c.pins.size()));
        CHECK(instance->requests.at(0).opcode == static_cast<int32_t>(HostOp::GetPinCount));
        std::vector<int32_t> bufferRequests;
        for (const auto& request : instance->requests)
            if (request.opcode == static_cast<int32_t>(HostOp::GetPinBuffer)) bufferRequests.push_back(request.index);
        CHECK(bufferRequests == c.bufferRequests);

        for (int32_t i = 0; i < static_cast<int32_t>(c.pins.size()); ++i) {
            CAPTURE(i);
            const ExpectedPin& expected = c.pins[i];
            sem::Pin* pin = probe.builtPin(i);
            if (expected.storage == Storage::Unfilled) {
                CHECK(pin == nullptr);
                continue;
            }
            REQUIRE(pin != nullptr);
            CHECK(pin->pinIndex() == i);
            CHECK(pin->pinDatatype() == expected.datatype);
            CHECK(pin->state() == sem::PinState::Static);
            switch (expected.storage) {
            case Storage::Variable: CHECK(pin->pinVariable() == &probe.variables[expected.description]); break;
            case Storage::None: CHECK(pin->pinVariable() == nullptr); break;
            default:
                REQUIRE(pin->pinVariable() != nullptr);
                CHECK(pin->pinVariable() != &probe.variables[i]);
                // An own AudioStream storage holds the buffer the host gave under the pin's index.
                if (expected.datatype == kAudio)
                    CHECK(*static_cast<float**>(pin->pinVariable()) == hostBuffers[i]);
                else
                    CHECK(*static_cast<int32_t*>(pin->pinVariable()) == 0);
            }
        }
    }
}

TEST_CASE("a second open rebuilds the table from a new count") {
    ProbeModule::descriptions() = {audio, audio, {kAudio, kRepeat, false}};
    auto library = probeLibrary();
    auto instance = plughost::Instance::make(library);
    instance->pinCount = 5;
    instance->open();
    CHECK(probeOf(*instance).pinCount() == 5);
    instance->pinCount = 2;
    instance->open();
    CHECK(probeOf(*instance).pinCount() == 2);
    CHECK(probeOf(*instance).builtPin(2) == nullptr);
}

TEST_CASE("Pin value reads the sample at clock minus block start, asking in that order") {
    ProbeModule::descriptions() = {audio, audio};
    auto library = probeLibrary();
    auto instance = plughost::Instance::make(library);
    float samples[8] = {0.0f, 0.1f, 0.2f, 0.3f, 0.4f};
    instance->bindBuffer(1, samples);
    instance->open();
    instance->blockStartClock[1] = 1000;
    instance->sampleClock = 1003;
    instance->clearLog();
    CHECK(probeOf(*instance).pinAt(1)->value() == 0.3f);
    REQUIRE(instance->requests.size() == 2);
    CHECK(instance->requests[0].opcode == static_cast<int32_t>(HostOp::GetBlockStartClock));
    CHECK(instance->requests[0].index == 1);
    CHECK(instance->requests[1].opcode == static_cast<int32_t>(HostOp::GetSampleClock));
    CHECK(instance->requests[1].index == 0);
    for (const auto& request : instance->requests) CHECK(request.record == instance->record());

    instance->bindBuffer(0, nullptr);  // no buffer: 0.0, nothing read through null
    CHECK(probeOf(*instance).pinAt(0)->value() == 0.0f);
}

TEST_CASE("a pin without a buffer or of a non-audio datatype reads 0.0") {
    ProbeModule::descriptions() = {{kAudio, 0, false}, {1, 0, false}, {6, 0, false}};
    auto library = probeLibrary();
    auto instance = plughost::Instance::make(library);
    instance->open();  // GetPinBuffer answers null for pin 0
    ProbeModule& probe = probeOf(*instance);
    CHECK(probe.pinAt(0)->value() == 0.0f);
    CHECK(probe.pinAt(1)->value() == 0.0f);
    CHECK(probe.pinAt(2)->value() == 0.0f);
}

TEST_CASE("reportState sends SetPinState with index, state and clock and keeps the pin's own state") {
    ProbeModule::descriptions() = {audio, audio, audio};
    auto library = probeLibrary();
    auto instance = plughost::Instance::make(library);
    instance->open();
    instance->clearLog();
    probeOf(*instance).pinAt(2)->reportState(-77, sem::PinState::Streaming);
    REQUIRE(instance->requests.size() == 1);
    const auto& request = instance->requests[0];
    CHECK(request.opcode == static_cast<int32_t>(HostOp::SetPinState));
    CHECK(request.index == 2);
    CHECK(request.value == 2);
    CHECK(request.pointer == -77);
    CHECK(request.record == instance->record());
    CHECK(probeOf(*instance).pinAt(2)->state() == sem::PinState::Static);
}
