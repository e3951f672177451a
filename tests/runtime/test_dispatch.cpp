// The dispatcher, events and the switchable processing routine.
#include <doctest/doctest.h>

#include <cstring>

#include "probe_module.h"

using namespace testing;
using sem::HostOp;
using sem::ModuleOp;

namespace {

struct Fixture {
    plughost::Library library = probeLibrary();
    std::unique_ptr<plughost::Instance> instance;
    Fixture() {
        ProbeModule::descriptions() = {{5, 0, true}, {5, 0, true}, {5, 0, true}};
        instance = plughost::Instance::make(library);
        REQUIRE(instance);
    }
    ProbeModule& probe() { return probeOf(*instance); }
    void deliver(int32_t type, int32_t value, uint32_t extra, uint32_t payload) {
        instance->deliver({77, type, value, extra, payload, 0});
    }
    std::vector<int32_t> opcodes() const {
        std::vector<int32_t> ops;
        for (const auto& request : instance->requests) ops.push_back(request.opcode);
        return ops;
    }
};

constexpr int32_t kRoutineChanged = static_cast<int32_t>(HostOp::ProcessRoutineChanged);

}  // namespace

TEST_CASE_FIXTURE(Fixture, "unknown opcodes answer 0, run nothing and ask the host nothing") {
    for (uint32_t opcode : {4u, 5u, 7u, 9u, 10u, 11u, 14u, 200u, 0xFFFFFFFFu}) {
        CAPTURE(opcode);
        CHECK(instance->dispatch(opcode, 3, 4, &opcode, 1.5f) == 0);
    }
    CHECK(probe().calls.empty());
    CHECK(instance->requests.empty());
}

TEST_CASE_FIXTURE(Fixture, "GetPinProperties answers exactly 1 or 0 and passes the host's record on untouched") {
    sem::PinProperties record;
    std::memset(&record, 0x5A, sizeof record);
    CHECK(instance->dispatch(6, 1, 0, &record) == 1);
    CHECK(record.datatype == 5);
    CHECK(record.reserved == 0x5A5A5A5Au);  // not cleared by the runtime
    CHECK(record.defaultValue == reinterpret_cast<const char*>(0x5A5A5A5A));
    CHECK(instance->dispatch(6, 3, 0, &record) == 0);
    CHECK(instance->dispatch(6, -1, 0, &record) == 0);
}

TEST_CASE_FIXTURE(Fixture, "Notify, Custom, SetSampleRate and SetBlockSize reach their operations") {
    instance->dispatch(8, 0);
    instance->dispatch(8, -3);
    instance->dispatch(8, 2);
    int target = 0;
    instance->dispatch(12, 3, 7, &target);
    CHECK(instance->dispatch(2, 0, 96000, nullptr, 48000.5f) == 0);
    CHECK(instance->dispatch(3, 0, 333, nullptr, 9.0f) == 0);
    const std::vector<std::string> expected = {"notify",       "notify",        "notify",       "notifyCount 2",
                                               "custom 7 3",   "setSampleRate", "setBlockSize"};
    CHECK(probe().calls == expected);
    CHECK(probe().lastCustomPointer == &target);
    CHECK(probe().sampleRate() == 48000.5f);
    CHECK(probe().blockSize() == 333);
}

TEST_CASE_FIXTURE(Fixture, "sample rate and block size start at 44100 and 1024") {
    CHECK(probe().sampleRate() == 44100.0f);
    CHECK(probe().blockSize() == 1024);
}

TEST_CASE("DescribeRoutineRef answers one library-wide descriptor naming the asking instance") {
    ProbeModule::descriptions() = {};
    auto library = probeLibrary();
    auto first = plughost::Instance::make(library);
    auto second = plughost::Instance::make(library);
    const intptr_t a = first->dispatch(13);
    const intptr_t b = second->dispatch(13);
    REQUIRE(a != 0);
    CHECK(a == b);
    const auto* descriptor = reinterpret_cast<const sem::RoutineRefDescriptor*>(b);
    CHECK(descriptor->count == 1);
    CHECK(descriptor->size == 16);
    CHECK(descriptor->reserved == 0);
    CHECK(codeAddress(descriptor->address->code) == codeAddress(&sem::ModuleBase::idleProcess));
    // The address is second's own routineRef: switching second's routine shows through it.
    probeOf(*second).setProcessRoutine({&ProbeModule::otherProcess, 0, 0, 0});
    CHECK(codeAddress(descriptor->address->code) == codeAddress(&ProbeModule::otherProcess));
    CHECK(codeAddress(probeOf(*first).processRoutine().code) == codeAddress(&sem::ModuleBase::idleProcess));
}

TEST_CASE_FIXTURE(Fixture, "setProcessRoutine tells the host once per real change") {
    struct Step {
        sem::ProcessRoutineRef routine;
        bool changes;
    };
    const Step steps[] = {
        {{&sem::ModuleBase::idleProcess, 0, 0, 0}, false},   // the installed one
        {{&ProbeModule::otherProcess, 0, 0, 0}, true},
        {{&ProbeModule::otherProcess, 0, 0, 0}, false},
        {{&ProbeModule::otherProcess, 4, 0, 0}, true},       // same code, other offset
        {{&ProbeModule::otherProcess, 4, 0, 1}, true},
        {{nullptr, 1, 2, 3}, true},
        {{nullptr, 9, 9, 9}, false},                         // null codes are equal whatever else they hold
    };
    int expectedChanges = 0;
    for (const Step& step : steps) {
        probe().setProcessRoutine(step.routine);
        expectedChanges += step.changes;
        CHECK(instance->routineChanges == expectedChanges);
        CHECK(codeAddress(instance->record()->processEntry) == codeAddress(probe().processRoutine().code));
    }
    CHECK(probe().processRoutine().thisOffset == 1);  // the equal null-code install kept the words it found
    for (const auto& request : instance->requests) {
        CHECK(request.opcode == kRoutineChanged);
        CHECK(request.index == 0);
        CHECK(request.value == 0);
        CHECK(request.pointer == 0);
        CHECK(request.opt == 0.0f);
        CHECK(request.record == instance->record());
    }
}

TEST_CASE("without a callback setProcessRoutine still switches the routine") {
    auto library = probeLibrary();
    auto instance = plughost::Instance::make(library, 0, 1, false);
    probeOf(*instance).setProcessRoutine({&ProbeModule::otherProcess, 0, 0, 0});
    CHECK(codeAddress(instance->record()->processEntry) == codeAddress(&ProbeModule::otherProcess));
    CHECK(plughost::Instance::strayRequests().empty());
}

TEST_CASE_FIXTURE(Fixture, "events: value events pass the low 16 bits, other types do nothing") {
    deliver(2, -5, 0xABCD1234u, 0);
    for (int32_t type : {1, 3, 20, 22, -1}) deliver(type, 1, 1, 0);
    CHECK(probe().calls == std::vector<std::string>{"value 77 -5 4660"});
    CHECK(instance->requests.empty());
}

TEST_CASE_FIXTURE(Fixture, "pin-state events reach only built pins; OneChange falls back after the hook") {
    instance->pinCount = 5;  // three described pins, two unfilled entries
    deliver(0, 2, 0, 0);     // before open: no table
    instance->open();
    for (uint32_t position : {3u, 4u, 5u, 1000u, 0xFFFFFFFFu}) deliver(0, 2, 0, position);
    CHECK(probe().statesSeen.empty());

    instance->sendPinState(1, sem::PinState::OneChange);
    instance->sendPinState(2, sem::PinState::Streaming);
    using Seen = std::vector<std::pair<int32_t, sem::PinState>>;
    CHECK(probe().statesSeen == Seen{{1, sem::PinState::OneChange}, {2, sem::PinState::Streaming}});
    CHECK(probe().pinAt(1)->state() == sem::PinState::Static);
    CHECK(probe().pinAt(2)->state() == sem::PinState::Streaming);
}

TEST_CASE_FIXTURE(Fixture, "scheduleCall hands the host a ScheduledCall that runs the routine on delivery") {
    instance->addEventAnswer = 42;
    CHECK(probe().scheduleCall(1234, {reinterpret_cast<sem::ProcessFunction>(codeAddress(&ProbeModule::scheduledRoutine)), 8, 1, 2}) == 42);
    REQUIRE(instance->requests.size() == 1);
    const plughost::Request& request = instance->requests[0];
    CHECK(request.opcode == static_cast<int32_t>(HostOp::AddEvent));
    CHECK(request.index == 0);
    CHECK(request.value == 0);
    CHECK(request.record == instance->record());
    const sem::HostEvent& event = request.event;
    CHECK(event.timeStamp == 1234);
    CHECK(event.type == 21);
    CHECK(event.value == 0);
    CHECK(event.extra == 0u);
    CHECK(event.payload == reinterpret_cast<uintptr_t>(&ProbeModule::scheduledRoutine));
    CHECK(event.reserved == 0u);

    instance->deliver(event);
    CHECK(probe().scheduledRuns == 1);
    // A code address this instance never scheduled is not called.
    deliver(21, 0, 0, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&ProbeModule::otherProcess)));
    deliver(21, 0, 0, 0x12345678u);
    CHECK(probe().scheduledRuns == 1);
}
