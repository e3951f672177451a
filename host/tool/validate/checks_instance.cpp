// instance.*: making, opening and closing instances, the record they hand
// the host, and which records their requests carry.
#include <algorithm>
#include <cstring>
#include <numeric>

#include "check.h"
#include "drive.h"

namespace plughost::validate {
namespace {

void* const kHostHandle = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5EC0DE00u));

std::unique_ptr<Instance> makeOne(const Library& library, int cycle = -1, void* hostHandle = nullptr) {
    auto instance = Instance::make(library, 0, 1, true, hostHandle);
    if (!instance) {
        if (cycle >= 0) fail(format("makeModule(0, 1) answered null in cycle %d", cycle));
        fail("makeModule(0, 1) answered null");
    }
    return instance;
}

std::string makeCloseCycles(CheckContext& context) {
    const Library& library = context.library();
    clearStrayRequests();
    for (int cycle = 0; cycle < 1000; ++cycle) {
        auto instance = makeOne(library, cycle);
        if (cycle % 2) instance->open();
        instance->close();
    }
    requireNoStrayRequests("over the cycles");
    return "1000 cycles, every other one opened";
}

std::string closeWithoutOpen(CheckContext& context) {
    const Library& library = context.library();
    clearStrayRequests();
    makeOne(library)->close();
    auto configured = makeOne(library);
    configured->setSampleRate(48000.0f);
    configured->setBlockSize(256);
    configured->close();
    requireNoStrayRequests("around the closes");
    return "closes straight after make and after SetSampleRate/SetBlockSize";
}

std::string openTwice(CheckContext& context) {
    const Library& library = context.library();
    clearStrayRequests();
    const Shape shape = shapeOf(library);
    const Stream stream = makeStream(context.seed(), shape.inputs.size(), 2048);
    Rng rng(context.seed());
    DriveSettings settings;
    settings.openTwice = true;
    Driver driver(library, stream, randomPlan(rng, stream.frames, 512), settings);
    driver.start();
    require(driver.instance().record()->processEntry != nullptr, "processEntry is null after the second Open");
    driver.runAll();
    require(!driver.faults.any(), "after two Opens: " + driver.faults.describeFirst());
    driver.close();
    requireNoStrayRequests("around the two Opens");
    return "opens twice, then processes 2048 frames cleanly";
}

std::string manyInterleaved(CheckContext& context) {
    const Library& library = context.library();
    clearStrayRequests();
    constexpr int kInstances = 64;
    const Shape shape = shapeOf(library);
    Rng rng(context.seed());
    std::vector<Stream> streams;
    std::vector<Plan> plans;
    for (int i = 0; i < kInstances; ++i) {
        streams.push_back(makeStream(context.seed() + 1000 + i, shape.inputs.size(), 1024));
        plans.push_back(randomPlan(rng, 1024, 300, 40));
    }
    std::vector<std::unique_ptr<Driver>> drivers;
    for (int i = 0; i < kInstances; ++i) drivers.push_back(std::make_unique<Driver>(library, streams[i], plans[i]));
    std::vector<int> order(kInstances);
    std::iota(order.begin(), order.end(), 0);
    for (int i = kInstances - 1; i > 0; --i) std::swap(order[i], order[rng.range(0, i)]);
    for (int i : order) drivers[i]->start();
    for (bool any = true; any;) {
        any = false;
        for (int i : order) any = drivers[i]->step() || any;
    }
    for (int i = kInstances - 1; i > 0; --i) std::swap(order[i], order[rng.range(0, i)]);
    for (int i : order) drivers[i]->close();
    requireNoStrayRequests("with 64 instances alive");
    for (int i = 0; i < kInstances; ++i) {
        require(!drivers[i]->faults.any(), format("instance %d of 64: ", i) + drivers[i]->faults.describeFirst());
        const RunResult alone = runPlan(library, streams[i], plans[i]);
        const std::string difference =
            compareOutputs(shape, drivers[i]->outputs, alone.outputs, "64 instances interleaved", "that instance alone");
        require(difference.empty(), format("instance %d: ", i) + difference);
    }
    return "64 instances made, opened, processed round-robin and closed in shuffled orders; each as alone";
}

std::string recordWords(const sem::ModuleRecord& record) {
    uint32_t words[12];
    std::memcpy(words, &record, sizeof words);
    std::string text;
    for (uint32_t word : words) text += format("%08X ", static_cast<unsigned>(word));
    return text;
}

std::string recordFields(CheckContext& context) {
    const Library& library = context.library();
    clearStrayRequests();
    auto instance = makeOne(library, -1, kHostHandle);
    const sem::ModuleRecord& record = *instance->record();
    require(record.magic == sem::kModuleMagic,
            format("magic is 0x%08X, not 0x%08X", static_cast<unsigned>(record.magic),
                   static_cast<unsigned>(sem::kModuleMagic)));
    require(record.version == sem::kModuleVersion, format("version is %d, not %d", record.version, sem::kModuleVersion));
    require(record.hostHandle == kHostHandle,
            format("hostHandle is %p, not the %p passed to makeModule", record.hostHandle, kHostHandle));
    require(record.object != nullptr, "object is null");
    require(record.reserved16 == 0, format("the reserved word at byte 16 is 0x%08X, not 0",
                                           static_cast<unsigned>(record.reserved16)));
    for (int i = 0; i < 4; ++i)
        require(record.reserved32[i] == 0, format("the reserved word at byte %d is 0x%08X, not 0", 32 + 4 * i,
                                                  static_cast<unsigned>(record.reserved32[i])));
    require(record.dispatchEntry != nullptr, "dispatchEntry is null");
    require(record.processEntry != nullptr, "processEntry is null");
    require(record.eventEntry != nullptr, "eventEntry is null");

    // After construction only processEntry may change.
    sem::ModuleRecord before;
    std::memcpy(&before, &record, sizeof before);
    const Shape shape = shapeOf(*instance);
    std::vector<std::vector<float>> buffers(shape.pins.size(), std::vector<float>(256, 0.0f));
    for (int32_t pin : shape.inputs) instance->bindBuffer(pin, buffers[pin].data());
    for (int32_t pin : shape.outputs) instance->bindBuffer(pin, buffers[pin].data());
    instance->setSampleRate(44100.0f);
    instance->setBlockSize(256);
    instance->open();
    for (int32_t pin = 0; pin < static_cast<int32_t>(shape.pins.size()); ++pin)
        instance->sendPinState(pin, sem::PinState::Streaming);
    instance->process(0, 256);
    sem::ModuleRecord after;
    std::memcpy(&after, &record, sizeof after);
    after.processEntry = before.processEntry;
    if (std::memcmp(&before, &after, sizeof before) != 0)
        fail("record words other than processEntry changed after construction: " + recordWords(before) + "-> " +
             recordWords(after));
    instance->close();
    requireNoStrayRequests("during the record check");
    return "magic, version 1, hostHandle stored, object set, reserved words 0, entries set and kept";
}

const uint32_t kUnknownOpcodes[] = {4, 5, 7, 9, 10, 11, 14, 15, 100, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};

void askUnknown(Instance& instance, Rng& rng, const char* when) {
    for (uint32_t opcode : kUnknownOpcodes) {
        unsigned char scratch[256];
        std::memset(scratch, 0x6B, sizeof scratch);
        instance.clearLog();
        const int32_t index = rng.range(-5, 300), value = rng.range(-5, 300);
        const intptr_t answer = instance.dispatch(opcode, index, value, scratch, 0.0f);
        require(answer == 0, format("opcode %u %s answered %ld, not 0", static_cast<unsigned>(opcode), when,
                                    static_cast<long>(answer)));
        if (!instance.requests.empty())
            fail(format("opcode %u %s made host request %d (%s)", static_cast<unsigned>(opcode), when,
                        instance.requests[0].opcode, hostOpName(instance.requests[0].opcode)));
        require(std::all_of(scratch, scratch + sizeof scratch, [](unsigned char b) { return b == 0x6B; }),
                format("opcode %u %s wrote through its pointer", static_cast<unsigned>(opcode), when));
        requireNoStrayRequests(format("for opcode %u", static_cast<unsigned>(opcode)).c_str());
    }
}

std::string unknownOpcodes(CheckContext& context) {
    const Library& library = context.library();
    clearStrayRequests();
    Rng rng(context.seed());
    auto instance = makeOne(library);
    askUnknown(*instance, rng, "before Open");
    instance->open();
    askUnknown(*instance, rng, "after Open");
    instance->close();
    return "4, 5, 7, 9, 10, 11, 14, 15, 100, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF answer 0, before and after Open";
}

// Runs each instance's life while another stays alive: every request must
// reach the host under the record of the instance being driven.
class ForeignRequestWatch {
public:
    ForeignRequestWatch(Driver& driving, Driver& other, const char* what)
        : driving(driving),
          other(other),
          what(what),
          record(driving.instance().record()),
          otherBefore(other.instance().requests.size()) {}
    void verify() const {
        if (other.instance().requests.size() != otherBefore)
            fail(format("%s on one instance made a request carrying the other instance's record (opcode %d)", what,
                        other.instance().requests.back().opcode));
        requireNoStrayRequests(what);
        for (const Request& request : driving.instance().requests)
            require(request.record == record, format("%s: a request (opcode %d) carried record %p, not %p", what,
                                                      request.opcode, static_cast<const void*>(request.record),
                                                      static_cast<const void*>(record)));
    }

private:
    Driver& driving;
    Driver& other;
    const char* what;
    const sem::ModuleRecord* record;
    size_t otherBefore;
};

std::string ownRecordRequests(CheckContext& context) {
    const Library& library = context.library();
    clearStrayRequests();
    const Shape shape = shapeOf(library);
    const Stream stream = makeStream(context.seed(), shape.inputs.size(), 1024);
    Rng rng(context.seed());
    const Plan plan = randomPlan(rng, stream.frames, 256, 16);
    Driver a(library, stream, plan), b(library, stream, plan);
    Driver* const orders[2][2] = {{&a, &b}, {&b, &a}};
    for (const auto& order : orders) {
        Driver& driving = *order[0];
        const ForeignRequestWatch opening(driving, *order[1], "Open and pin events");
        driving.start();
        for (int32_t pin = 0; pin <= static_cast<int32_t>(shape.pins.size()); ++pin)
            for (int32_t state : {0, 1, 2}) driving.instance().sendPinState(pin, static_cast<sem::PinState>(state));
        opening.verify();
        const ForeignRequestWatch processing(driving, *order[1], "processing");
        for (int i = 0; i < 3; ++i) driving.step();
        processing.verify();
    }
    for (const auto& order : orders) {
        const ForeignRequestWatch processing(*order[0], *order[1], "processing");
        order[0]->runAll();
        processing.verify();
    }
    const size_t requests = a.instance().requests.size() + b.instance().requests.size();
    const ForeignRequestWatch closing(a, b, "Close");
    a.close();
    closing.verify();
    b.close();
    requireNoStrayRequests("at Close");
    return format("%zu requests from two live instances, each with its own record", requests);
}

std::string openInstallsRoutine(CheckContext& context) {
    const Library& library = context.library();
    clearStrayRequests();
    auto instance = makeOne(library);
    const sem::ProcessFunction idle = instance->record()->processEntry;
    require(instance->routineChanges == 0,
            format("ProcessRoutineChanged came %d time(s) before Open", instance->routineChanges));
    instance->open();
    const sem::ProcessFunction installed = instance->record()->processEntry;
    require(installed != nullptr, "processEntry is null after Open");
    require(installed != idle, "Open left processEntry at the routine it had at make: no processing routine installed");
    require(instance->routineChanges == 1,
            format("Open sent ProcessRoutineChanged %d time(s), not once", instance->routineChanges));
    instance->close();
    requireNoStrayRequests("at Open");
    return "processEntry changed at Open, ProcessRoutineChanged once";
}

}  // namespace

void addInstanceChecks(std::vector<Check>& checks) {
    checks.push_back({"instance.make-close-cycles", &makeCloseCycles, false});
    checks.push_back({"instance.close-without-open", &closeWithoutOpen, false});
    checks.push_back({"instance.open-twice", &openTwice, false});
    checks.push_back({"instance.many-interleaved", &manyInterleaved, false});
    checks.push_back({"instance.record-fields", &recordFields, false});
    checks.push_back({"instance.unknown-opcodes", &unknownOpcodes, false});
    checks.push_back({"instance.own-record-requests", &ownRecordRequests, false});
    checks.push_back({"instance.open-installs-routine", &openInstallsRoutine, false});
}

}  // namespace plughost::validate
