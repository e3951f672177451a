// alloc.*: no heap allocation inside processEntry, and everything an instance
// allocates between makeModule and Close freed by its Close. The instance is
// driven by a bare host that allocates nothing itself, and counting is on only
// while the module's own code runs.
#include <array>
#include <cstring>
#include <vector>

#include "alloc_counter.h"
#include "check.h"
#include "drive.h"

namespace plughost::validate {
namespace {

constexpr int32_t kCapacity = 4096 + 256;
constexpr int32_t kMaxPins = 64;

enum Phase : int32_t { kMake, kDescribe, kConfigure, kOpen, kEvents, kProcess, kSecondOpen, kClose, kPhases };
const char* const kPhaseNames[kPhases] = {"makeModule", "GetPinProperties", "SetSampleRate/SetBlockSize", "Open",
                                          "pin events", "processEntry", "the second Open", "Close"};

// Answers from fixed storage: nothing here may touch the heap.
struct BareHost {
    int32_t pinCount = 0;
    std::array<float*, kMaxPins> buffers{};

    static BareHost* current;
    static intptr_t SEM_CDECL callback(sem::ModuleRecord*, int32_t opcode, int32_t index, int32_t, void*, float) {
        switch (static_cast<sem::HostOp>(opcode)) {
        case sem::HostOp::GetPinCount: return current->pinCount;
        case sem::HostOp::GetPinBuffer:
            return index >= 0 && index < kMaxPins ? reinterpret_cast<intptr_t>(current->buffers[index]) : 0;
        default: return 0;
        }
    }
};
BareHost* BareHost::current = nullptr;

class BareInstance {
public:
    explicit BareInstance(const Library& library, bool countSetup) : count(countSetup) {
        BareHost::current = &host;
        storage.assign(kMaxPins, std::vector<float>(kCapacity, 0.0f));
        Rng rng(7);
        for (auto& buffer : storage)
            for (float& sample : buffer) sample = rng.uniform(-1.0f, 1.0f);
        run(kMake, [&] { record = library.makeModule()(0, 1, &BareHost::callback, nullptr); });
        require(record != nullptr, "makeModule(0, 1) answered null");
        run(kDescribe, [&] {
            for (described = 0; described < kMaxPins; ++described) {
                std::memset(&pins[described], 0, sizeof pins[described]);
                if (!dispatch(sem::ModuleOp::GetPinProperties, described, 0, &pins[described])) break;
            }
        });
        host.pinCount = described;
        for (int32_t pin = 0; pin < described; ++pin) {
            host.buffers[pin] = storage[pin].data();
            if (pins[pin].datatype == static_cast<int32_t>(sem::PinDatatype::AudioStream) && pins[pin].variableAddress)
                *static_cast<float**>(pins[pin].variableAddress) = storage[pin].data();
        }
    }

    template <class Body>
    void run(Phase phase, Body body) {
        if (count) alloc::begin(phase);
        body();
        alloc::end();
    }
    intptr_t dispatch(sem::ModuleOp op, int32_t index = 0, int32_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return record->dispatchEntry(record, static_cast<int32_t>(op), index, value, ptr, opt);
    }
    void configure() {
        run(kConfigure, [&] {
            dispatch(sem::ModuleOp::SetSampleRate, 0, 0, nullptr, 48000.0f);
            dispatch(sem::ModuleOp::SetBlockSize, 0, 4096);
        });
    }
    void open(Phase phase) { run(phase, [&] { dispatch(sem::ModuleOp::Open); }); }
    void events() {
        run(kEvents, [&] {
            for (int32_t pin = 0; pin <= described; ++pin)
                for (int32_t state : {2, 1, 0, 2}) {
                    const sem::HostEvent event{0, static_cast<int32_t>(sem::HostEventType::PinStateChange), state, 0,
                                               static_cast<uint32_t>(pin), 0};
                    record->eventEntry(record->object, &event);
                }
        });
    }
    // Counted on its own when only processing is measured.
    void process(int32_t offset, int32_t frames, bool countThis) {
        if (countThis || count) alloc::begin(kProcess);
        record->processEntry(record->object, offset, frames);
        alloc::end();
    }
    void close() {
        run(kClose, [&] { dispatch(sem::ModuleOp::Close); });
        record = nullptr;
        BareHost::current = nullptr;
    }

    sem::ModuleRecord* record = nullptr;

private:
    bool count;
    BareHost host;
    std::vector<std::vector<float>> storage;
    std::array<sem::PinProperties, kMaxPins> pins{};
    int32_t described = 0;
};

const Block kBlocks[] = {{0, 1}, {0, 64}, {17, 1000}, {0, 4096}, {255, 4001}, {3, 17}, {0, 0}};

void requireCounting() {
    if (!alloc::available()) throw CheckSkipped(alloc::unavailableReason());
}

std::string processAllocates(CheckContext& context) {
    requireCounting();
    const Library& library = context.library();
    alloc::forgetLive();
    alloc::resetTotals();
    BareInstance instance(library, false);
    instance.configure();
    instance.open(kOpen);
    instance.events();
    int32_t calls = 0;
    for (int round = 0; round < 3; ++round)
        for (const Block& block : kBlocks) {
            instance.process(block.offset, block.frames, true);
            ++calls;
        }
    const alloc::Totals totals = alloc::totals();
    instance.close();
    if (totals.allocations > 0)
        fail(format("%lld heap allocation(s), %lld bytes, inside processEntry over %d calls (first: %zu bytes)",
                    static_cast<long long>(totals.allocations), static_cast<long long>(totals.bytes), calls,
                    totals.firstSize));
    return format("no allocation in %d processEntry calls of 0 to 4096 frames%s", calls,
                  totals.frees ? format(" (%lld frees)", static_cast<long long>(totals.frees)).c_str() : "");
}

std::string closeFrees(CheckContext& context) {
    requireCounting();
    const Library& library = context.library();
    alloc::forgetLive();
    alloc::resetTotals();
    BareInstance instance(library, true);
    instance.configure();
    instance.open(kOpen);
    instance.events();
    for (const Block& block : kBlocks) instance.process(block.offset, block.frames, false);
    instance.open(kSecondOpen);
    instance.events();
    for (const Block& block : kBlocks) instance.process(block.offset, block.frames, false);
    instance.close();
    const alloc::Live live = alloc::live();
    const alloc::Totals totals = alloc::totals();
    alloc::forgetLive();
    require(!live.overflowed, "more live blocks than the counter can follow");
    if (live.blocks > 0)
        fail(format("%lld block(s), %lld bytes, allocated between makeModule and Close are still live after Close "
                    "(oldest: %zu bytes from %s)",
                    static_cast<long long>(live.blocks), static_cast<long long>(live.bytes), live.firstSize,
                    live.firstPhase >= 0 && live.firstPhase < kPhases ? kPhaseNames[live.firstPhase] : "?"));
    return format("%lld allocation(s), %lld bytes, from makeModule to Close; all freed by Close",
                  static_cast<long long>(totals.allocations), static_cast<long long>(totals.bytes));
}

}  // namespace

void addAllocChecks(std::vector<Check>& checks) {
    checks.push_back({"alloc.process", &processAllocates, false});
    checks.push_back({"alloc.close-frees", &closeFrees, false});
}

}  // namespace plughost::validate
