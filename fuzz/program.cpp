#include "program.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "plughost/instance.h"
#include "plughost/float_bits.h"
#include "report_model.h"

namespace fuzzing {
namespace {

using plughost::bitsOf;
using plughost::floatOf;

constexpr int32_t kSlots = 2;        // two instances, interleaved
constexpr int32_t kHostPins = 10;    // pin positions the host binds: every described one and some past them
constexpr int32_t kMaxSize = 1024;   // largest buffer, in samples
constexpr int32_t kGuard = 16;       // guard samples on each side of every buffer
constexpr uint32_t kGuardBits = 0x7FA5A5A5u;  // a NaN no module writes

// Where a finding happened, for the message.
struct Where {
    const char* deliverable = "";
    int32_t slot = 0;
    int32_t action = 0;
    const char* op = "";
} where;

// FUZZ_TRACE=1 prints each action, to see what a seed or a finding does.
const bool trace = std::getenv("FUZZ_TRACE") != nullptr;

[[noreturn]] void finding(const char* format, ...) {
    std::fprintf(stderr, "\nFINDING in %s, slot %d, action %d (%s): ", where.deliverable, where.slot, where.action,
                 where.op);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    std::abort();
}

// Values where the rules have their edges, as bits.
const uint32_t kSpecial[] = {
    bitsOf(0.333f), bitsOf(std::nextafter(0.333f, 1.0f)), bitsOf(std::nextafter(0.333f, 0.0f)), bitsOf(0.433f),
    bitsOf(0.1f), bitsOf(0.2f), bitsOf(0.3f), bitsOf(0.5f), bitsOf(0.7f), bitsOf(1.0f), bitsOf(-1.0f),
    0x00000000u,  // +0
    0x80000000u,  // -0
    0x7F800000u,  // +inf
    0xFF800000u,  // -inf
    0x7FC00000u,  // quiet NaN
    0x7FC00123u,  // NaN with a payload
    0xFFC00000u,  // negative NaN
    0x7F800001u,  // signalling NaN
    0x00000001u,  // smallest denormal
    0x80000001u,
    0x007FFFFFu,  // largest denormal
    0x00800000u,  // smallest normal
    0x7F7FFFFFu,  // largest finite
    0xFF7FFFFFu,
};
constexpr uint32_t kSpecialCount = sizeof kSpecial / sizeof kSpecial[0];

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data(data), left(size) {}
    bool more() const { return left > 0; }
    // Past the end every read is 0, so any prefix is a whole program.
    uint8_t byte() {
        if (left == 0) return 0;
        --left;
        return *data++;
    }
    uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
    uint32_t word() { return u16() | static_cast<uint32_t>(u16()) << 16; }
    // Mostly edge values, now and then any bits at all.
    uint32_t sample() {
        const uint8_t b = byte();
        return b < 0xE0 ? kSpecial[b % kSpecialCount] : word();
    }

private:
    const uint8_t* data;
    size_t left;
};

// Held runs of edge values and plain ones, from a seed.
class Pattern {
public:
    explicit Pattern(uint32_t seed) : state(seed * 2654435761u + 0x9E3779B9u) {}
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    void fill(std::vector<uint32_t>& out, size_t n) {
        uint32_t before[2] = {kSpecial[0], kSpecial[0]};
        while (out.size() < n) {
            const uint32_t r = next();
            uint32_t value = (r & 3) ? kSpecial[(r >> 2) % kSpecialCount]
                                     : bitsOf(-0.2f + 1.1f * static_cast<float>(next() >> 8) / 16777216.0f);
            // Now and then back to the value before last: dips and spikes inside a held run.
            if ((r & 0xC0) == 0) value = before[0];
            before[0] = before[1];
            before[1] = value;
            // Mostly short runs; now and then one long enough for a whole SIMD step.
            const uint32_t run = (r & 0x30) ? 1 + (r >> 24) % 24 : 1 + (r >> 16) % 300;
            for (uint32_t i = 0; i < run && out.size() < n; ++i) out.push_back(value);
        }
    }

private:
    uint32_t state;
};

// A host buffer with guard zones; `expected` is what every word must hold.
struct Buffer {
    explicit Buffer(int32_t size)
        : size(size),
          storage(new uint32_t[static_cast<size_t>(size + 2 * kGuard)]),
          expected(static_cast<size_t>(size + 2 * kGuard), kGuardBits) {
        for (int32_t i = 0; i < size + 2 * kGuard; ++i) storage[static_cast<size_t>(i)] = kGuardBits;
    }
    float* samples() { return reinterpret_cast<float*>(storage.get() + kGuard); }
    uint32_t expectedAt(int32_t i) const { return expected[static_cast<size_t>(kGuard + i)]; }
    void setExpected(int32_t i, uint32_t bits) { expected[static_cast<size_t>(kGuard + i)] = bits; }
    // The host writes a sample.
    void write(int32_t i, uint32_t bits) {
        storage[static_cast<size_t>(kGuard + i)] = bits;
        setExpected(i, bits);
    }
    void check(int32_t pin) const {
        if (std::memcmp(storage.get(), expected.data(), expected.size() * sizeof(uint32_t)) == 0) return;
        for (int32_t i = 0; i < size + 2 * kGuard; ++i) {
            const uint32_t got = storage[static_cast<size_t>(i)], want = expected[static_cast<size_t>(i)];
            if (got == want) continue;
            const int32_t at = i - kGuard;
            finding("buffer of pin %d (size %d) word %d %s: holds 0x%08X (%g), expected 0x%08X (%g)", pin, size, at,
                    at < 0 || at >= size ? "in the guard zone" : "", got, static_cast<double>(floatOf(got)), want,
                    static_cast<double>(floatOf(want)));
        }
    }

    int32_t size;
    std::unique_ptr<uint32_t[]> storage;
    std::vector<uint32_t> expected;
};

struct Slot {
    const Deliverable* deliverable = nullptr;
    std::unique_ptr<plughost::Instance> instance;
    std::shared_ptr<Buffer> bound[kHostPins];
    std::optional<testing::ReferenceLatch> model;
    std::optional<testing::ReportModel> reports;
    size_t reportsChecked = 0;
    size_t requestsSeen = 0;
    bool opened = false;
    bool withCallback = true;
    int32_t described = 0;
};

class Run {
public:
    Run(const uint8_t* data, size_t size, const Deliverable* deliverables, size_t count)
        : reader(data, size), deliverables(deliverables), count(count) {}

    void go() {
        where = Where{};
        // Slot 0 starts made, counted in full and bound, so that most inputs do real work at once.
        const Deliverable& first = deliverables[reader.byte() % count];
        where.deliverable = first.name;
        make(slots[0], first, 0, 1, true, nullptr, -1);
        if (slots[0].instance)
            for (int32_t pin = 0; pin < slots[0].described; ++pin) bindNew(slots[0], pin, 256, pin);
        while (reader.more()) {
            ++where.action;
            step();
        }
        for (Slot& slot : slots) closeSlot(slot);
        where.op = "end";
        checkStray();
    }

private:
    void step() {
        const uint8_t op = reader.byte();
        const int32_t s = (op >> 4) & 1;
        Slot& slot = slots[s];
        where.slot = s;
        where.deliverable = slot.deliverable ? slot.deliverable->name : "(none)";
        switch (op & 0x0F) {
        case 0: where.op = "make"; makeAction(slot); break;
        case 1: where.op = "bind"; bindAction(slot); break;
        case 2: where.op = "alias"; aliasAction(slot); break;
        case 3: where.op = "fill"; fillAction(slot); break;
        case 4: where.op = "open"; openAction(slot); break;
        case 5: where.op = "close"; closeSlot(slot); break;
        case 6: where.op = "event"; eventAction(slot); break;
        case 7:
        case 8: where.op = "process"; processAction(slot); break;
        case 9: where.op = "rate/block"; rateAction(slot); break;
        case 10: where.op = "describe pin"; describePinAction(slot); break;
        case 11: where.op = "describe module"; describeModuleAction(slot); break;
        case 12: where.op = "dispatch"; dispatchAction(slot); break;
        case 13: where.op = "routine/notify/custom"; miscAction(slot); break;
        case 14: where.op = "pin count"; if (slot.instance) slot.instance->pinCount = reader.byte() % 8; break;
        default: where.op = "pattern"; patternAction(slot); break;
        }
        if (trace) std::fprintf(stderr, "action %d slot %d %s %s\n", where.action, s, where.op, where.deliverable);
        for (Slot& each : slots) checkSlot(each);
        checkStray();
    }

    // --- life -------------------------------------------------------------

    void make(Slot& slot, const Deliverable& d, int32_t index, int32_t profile, bool withCallback, void* handle,
              int32_t pinCount) {
        closeSlot(slot);
        static std::vector<plughost::Library>* libraries = nullptr;
        if (!libraries) libraries = new std::vector<plughost::Library>();  // lives as long as the process
        plughost::Library* library = nullptr;
        for (plughost::Library& l : *libraries)
            if (l.makeModule() == d.makeModule) library = &l;
        if (!library) {
            libraries->push_back(plughost::Library::linkedIn(d.getModuleProperties, d.makeModule, d.name));
            library = &libraries->back();
        }
        auto instance = plughost::Instance::make(*library, index, profile, withCallback, handle);
        const bool wanted = index == 0 && profile == 1;
        if (!instance) {
            if (wanted) finding("makeModule(0, 1) answered null");
            return;
        }
        if (!wanted) finding("makeModule(%d, %d) answered a record", index, profile);
        const sem::ModuleRecord* record = instance->record();
        if (record->magic != sem::kModuleMagic || record->version != sem::kModuleVersion || !record->object ||
            !record->dispatchEntry || !record->processEntry || !record->eventEntry || record->hostHandle != handle)
            finding("fresh record malformed");
        slot.deliverable = &d;
        slot.withCallback = withCallback;
        slot.described = testing::ReportModel(d.config).describedPins();
        if (static_cast<int32_t>(instance->pins().size()) != slot.described)
            finding("%d pins described, expected %d", static_cast<int32_t>(instance->pins().size()), slot.described);
        if (pinCount >= 0) instance->pinCount = pinCount;
        slot.instance = std::move(instance);
        slot.model.emplace(d.config);
        slot.reports.emplace(d.config);
        slot.reportsChecked = 0;
        slot.requestsSeen = 0;
        slot.opened = false;
    }

    void makeAction(Slot& slot) {
        const Deliverable& d = deliverables[reader.byte() % count];
        const uint8_t shape = reader.byte();
        const int32_t index = (shape & 0x03) == 0x03 ? static_cast<int32_t>(reader.word()) : 0;
        const int32_t profile = (shape & 0x0C) == 0x0C ? static_cast<int32_t>(reader.word()) : 1;
        const bool withCallback = (shape & 0x10) == 0;
        void* handle = (shape & 0x20) ? reinterpret_cast<void*>(static_cast<uintptr_t>(reader.word())) : nullptr;
        where.deliverable = d.name;
        make(slot, d, index, profile, withCallback, handle, reader.byte() % 8);
    }

    void closeSlot(Slot& slot) {
        if (!slot.instance) return;
        checkSlot(slot);
        if (!slot.instance->close()) finding("Close did not answer 1");
        slot = Slot{};
    }

    void openAction(Slot& slot) {
        if (!slot.instance) return;
        slot.instance->open();
        slot.opened = true;
        // Element 0 of the Threshold buffer as it is now, whatever offset blocks have later.
        std::optional<float> thresholdAtOpen;
        if (!slot.deliverable->config.fixedThreshold && slot.bound[3]) thresholdAtOpen = floatOf(slot.bound[3]->expectedAt(0));
        slot.model->open(thresholdAtOpen ? &*thresholdAtOpen : nullptr);
        slot.reports->open(slot.withCallback ? slot.instance->pinCount : 0);
    }

    // --- buffers ----------------------------------------------------------

    void bindNew(Slot& slot, int32_t pin, int32_t size, uint32_t seed) {
        std::shared_ptr<Buffer> buffer;
        if (size > 0) {
            buffer = std::make_shared<Buffer>(size);
            std::vector<uint32_t> values;
            Pattern(seed).fill(values, static_cast<size_t>(size));
            for (int32_t i = 0; i < size; ++i) buffer->write(i, values[static_cast<size_t>(i)]);
        }
        bind(slot, pin, std::move(buffer));
    }

    void bind(Slot& slot, int32_t pin, std::shared_ptr<Buffer> buffer) {
        slot.instance->bindBuffer(pin, buffer ? buffer->samples() : nullptr);
        slot.bound[pin] = std::move(buffer);
    }

    void bindAction(Slot& slot) {
        const int32_t pin = reader.byte() % kHostPins;
        const int32_t size = reader.u16() % (kMaxSize + 1);  // 0: a null buffer variable
        const uint32_t seed = reader.byte();
        if (slot.instance) bindNew(slot, pin, size, seed);
    }

    // Two pins of one instance on one buffer, as a host processing in place has them.
    void aliasAction(Slot& slot) {
        const int32_t pin = reader.byte() % kHostPins, other = reader.byte() % kHostPins;
        if (slot.instance) bind(slot, pin, slot.bound[other]);
    }

    void fillAction(Slot& slot) {
        const int32_t pin = reader.byte() % kHostPins;
        const int32_t start = reader.u16() % kMaxSize;
        const int32_t n = reader.byte() % 33;
        for (int32_t i = 0; i < n; ++i) {
            const uint32_t value = reader.sample();
            Buffer* buffer = slot.instance ? slot.bound[pin].get() : nullptr;
            if (buffer && buffer->size > 0) buffer->write((start + i) % buffer->size, value);
        }
    }

    // One pin's buffer from a seed; or set and reset from the same seed, reset
    // shifted by 0 to 7 samples, so that their edges meet on one sample or close by.
    void patternAction(Slot& slot) {
        const uint8_t which = reader.byte();
        const uint32_t seed = reader.u16();
        if (!slot.instance) return;
        const bool paired = which & 0x80;
        const int32_t shift = (which >> 4) & 7;
        for (int32_t k = 0; k < (paired ? 2 : 1); ++k) {
            Buffer* buffer = slot.bound[paired ? k : which % kHostPins].get();
            if (!buffer) continue;
            std::vector<uint32_t> values;
            Pattern(seed).fill(values, static_cast<size_t>(buffer->size + shift));
            for (int32_t i = 0; i < buffer->size; ++i) buffer->write(i, values[static_cast<size_t>(i + (k ? shift : 0))]);
        }
    }

    // The fewest samples any bound buffer of a described pin holds; kMaxSize when none is bound.
    int32_t shortestBuffer(const Slot& slot) const {
        int32_t shortest = kMaxSize;
        for (int32_t pin = 0; pin < slot.described; ++pin)
            if (slot.bound[pin]) shortest = std::min(shortest, slot.bound[pin]->size);
        return shortest;
    }

    // --- requests ---------------------------------------------------------

    void processAction(Slot& slot) {
        const uint8_t mode = reader.byte();
        const uint16_t a = reader.u16(), b = reader.u16();
        if (!slot.instance) return;
        const int32_t limit = shortestBuffer(slot);
        int32_t offset, frames;
        switch (mode % 8) {
        case 0: offset = -1 - static_cast<int32_t>(a % 64) * (mode & 0x80 ? 1 << 24 : 1), frames = 1 + b % limit; break;
        case 1: offset = a % limit, frames = -static_cast<int32_t>(b) * (mode & 0x80 ? 1 << 15 : 1); break;
        default:
            offset = a % limit;
            frames = 1 + b % (limit - offset);
        }
        testing::ReferenceLatch& model = *slot.model;
        const testing::LatchConfig& config = slot.deliverable->config;
        bool runs = slot.opened && frames > 0 && offset >= 0;
        for (int32_t pin = 0; pin < slot.described; ++pin) runs = runs && slot.bound[pin];
        if (runs) {
            // Sample by sample, inputs read before outputs are written, so that buffers shared
            // between pins come out as a host processing in place sees them.
            Buffer& set = *slot.bound[0];
            Buffer& reset = *slot.bound[1];
            Buffer& out = *slot.bound[2];
            for (int32_t i = offset; i < offset + frames; ++i) {
                const float threshold = config.fixedThreshold ? 0.0f : floatOf(slot.bound[3]->expectedAt(i));
                const float level = model.step(floatOf(set.expectedAt(i)), floatOf(reset.expectedAt(i)), threshold);
                out.setExpected(i, bitsOf(level));
                if (config.complementary) slot.bound[4]->setExpected(i, bitsOf(model.negOut()));
            }
        }
        if (trace) std::fprintf(stderr, "  process offset %d frames %d: %s\n", offset, frames, runs ? "runs" : "skipped");
        slot.instance->process(offset, frames);
    }

    void eventAction(Slot& slot) {
        const uint8_t shape = reader.byte();
        const int32_t types[] = {0, 2, 21, static_cast<int32_t>(reader.word())};
        const int32_t type = types[shape & 3];
        const uint32_t payload = (shape & 0x04) ? reader.word() : reader.byte() % (kHostPins + 2);
        const int32_t value = (shape & 0x08) ? static_cast<int32_t>(reader.word()) : reader.byte() % 4;
        const uint32_t extra = (shape & 0x10) ? reader.word() : 0;
        const int32_t timeStamp = static_cast<int32_t>(reader.word());
        const uint32_t base = reader.word();
        const uint8_t position = reader.byte();
        if (!slot.instance) return;
        // The host's clock sits inside every bound buffer; block starts may wrap past it.
        const int32_t at = position % shortestBuffer(slot);
        slot.instance->sampleClock = static_cast<int32_t>(base + static_cast<uint32_t>(at));
        for (int32_t pin = 0; pin < kHostPins; ++pin) slot.instance->blockStartClock[pin] = static_cast<int32_t>(base);

        if (type == 0) {
            const auto sampleAt = [&](int32_t pin) {
                return slot.bound[pin] ? floatOf(slot.bound[pin]->expectedAt(at)) : 0.0f;
            };
            const int64_t pin = static_cast<int32_t>(payload);
            for (const plughost::StateReport& report :
                 slot.reports->event(pin, value, slot.instance->sampleClock, sampleAt))
                expectedReports(slot).push_back(report);
        }
        if (trace) std::fprintf(stderr, "  event type %d payload %u value %d at %d\n", type, payload, value, at);
        slot.instance->deliver({timeStamp, type, value, extra, payload, 0});
    }

    void rateAction(Slot& slot) {
        const uint8_t which = reader.byte();
        const uint32_t value = reader.word();
        if (!slot.instance) return;
        if (which & 1)
            slot.instance->setSampleRate(floatOf(value));
        else
            slot.instance->setBlockSize(static_cast<int32_t>(value));
    }

    void describePinAction(Slot& slot) {
        const uint8_t shape = reader.byte();
        const int32_t index = (shape & 0x80) ? static_cast<int32_t>(reader.word()) : (shape % 8) - 1;
        const uint8_t pattern = reader.byte();
        if (!slot.instance) return;
        uint8_t bytes[sizeof(sem::PinProperties)];
        for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<uint8_t>(pattern + 7 * i);
        sem::PinProperties properties;
        std::memcpy(&properties, bytes, sizeof properties);
        const bool answered = slot.instance->getPinProperties(index, &properties);
        const bool valid = index >= 0 && index < slot.described;
        if (answered != valid) finding("GetPinProperties(%d) answered %d", index, answered);
        uint8_t want[sizeof bytes];
        std::memcpy(want, bytes, sizeof want);
        if (valid) {
            // Words 0-3 always, 4 and 5 only where the row has text, 6 and 7 never.
            const sem::PinProperties& known = slot.instance->pins()[static_cast<size_t>(index)].properties;
            std::memcpy(want, &known, 16);
            if (known.defaultValue) std::memcpy(want + 16, &known.defaultValue, 4);
            if (known.extraText) std::memcpy(want + 20, &known.extraText, 4);
        }
        if (std::memcmp(want, &properties, sizeof want) != 0) finding("GetPinProperties(%d) wrote other words", index);
    }

    void describeModuleAction(Slot& slot) {
        const uint8_t shape = reader.byte();
        const int32_t index = (shape & 0x80) ? static_cast<int32_t>(reader.word()) : (shape % 4) - 1;
        const uint8_t pattern = reader.byte();
        const Deliverable& d = slot.deliverable ? *slot.deliverable : deliverables[shape % count];
        where.deliverable = d.name;
        uint8_t bytes[sizeof(sem::ModuleProperties)];
        for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<uint8_t>(pattern + 11 * i);
        sem::ModuleProperties properties, first;
        std::memcpy(&properties, bytes, sizeof properties);
        std::memcpy(&first, bytes, sizeof first);
        const int32_t answer = d.getModuleProperties(index, &properties);
        d.getModuleProperties(0, &first);
        if (answer != (index == 0 ? 1 : 0)) finding("getModuleProperties(%d) answered %d", index, answer);
        if (properties.stamp != sem::kStamp) finding("getModuleProperties(%d) stamp %d", index, properties.stamp);
        uint8_t want[sizeof bytes];
        std::memcpy(want, bytes, sizeof want);
        if (index == 0) std::memcpy(want, &first, 12);
        const int32_t stamp = sem::kStamp;
        std::memcpy(want + 20, &stamp, 4);
        if (std::memcmp(want, &properties, sizeof want) != 0) finding("getModuleProperties(%d) wrote other words", index);
        if (!first.id || !first.name || !first.about) finding("getModuleProperties(0) left a text null");
    }

    // Any opcode: the known ones do what their actions do, all others answer 0 and touch nothing.
    void dispatchAction(Slot& slot) {
        const uint32_t opcode = reader.word();
        const int32_t index = static_cast<int32_t>(reader.word()), value = static_cast<int32_t>(reader.word());
        const float opt = floatOf(reader.word());
        if (!slot.instance) return;
        switch (opcode) {
        case 0: openAction(slot); return;
        case 1: closeSlot(slot); return;
        case 2: slot.instance->setSampleRate(opt); return;
        case 3: slot.instance->setBlockSize(value); return;
        case 6: describePinAction(slot); return;
        case 8:
        case 12: break;  // no operation in these modules: checked as unknown ones are
        case 13: miscAction(slot); return;
        default: break;
        }
        uint32_t scratch[16];
        for (uint32_t& w : scratch) w = 0xC0DE0000u + opcode;
        const intptr_t answer = slot.instance->dispatch(opcode, index, value, scratch, opt);
        if (answer != 0) finding("opcode %u answered %ld", opcode, static_cast<long>(answer));
        for (uint32_t w : scratch)
            if (w != 0xC0DE0000u + opcode) finding("opcode %u wrote through its pointer", opcode);
        if (slot.instance->requests.size() != slot.requestsSeen) finding("opcode %u asked the host", opcode);
    }

    void miscAction(Slot& slot) {
        const uint8_t which = reader.byte();
        const int32_t index = static_cast<int32_t>(reader.word());
        if (!slot.instance) return;
        if (which % 3 == 0) {
            const intptr_t answer = slot.instance->dispatch(static_cast<uint32_t>(sem::ModuleOp::DescribeRoutineRef));
            const auto* descriptor = reinterpret_cast<const sem::RoutineRefDescriptor*>(answer);
            if (!descriptor || descriptor->count != 1 || descriptor->size != sizeof(sem::ProcessRoutineRef) ||
                descriptor->reserved != 0 || !descriptor->address)
                finding("DescribeRoutineRef descriptor malformed");
            if (descriptor->address->code != slot.instance->record()->processEntry)
                finding("the described routine is not the record's processEntry");
        } else {
            const auto op = which % 3 == 1 ? sem::ModuleOp::Notify : sem::ModuleOp::Custom;
            uint32_t scratch[16];
            for (uint32_t& w : scratch) w = 0x5EED0000u + which;
            const intptr_t answer = slot.instance->dispatch(static_cast<uint32_t>(op), index, index, scratch);
            if (answer != 0) finding("Notify/Custom answered %ld", static_cast<long>(answer));
            for (uint32_t w : scratch)
                if (w != 0x5EED0000u + which) finding("Notify/Custom wrote through its pointer");
        }
    }

    // --- checks -----------------------------------------------------------

    std::vector<plughost::StateReport>& expectedReports(Slot& slot) { return pending[&slot - slots]; }

    void checkSlot(Slot& slot) {
        if (!slot.instance) return;
        for (int32_t pin = 0; pin < kHostPins; ++pin)
            if (slot.bound[pin]) slot.bound[pin]->check(pin);
        std::vector<plughost::StateReport>& want = expectedReports(slot);
        const std::vector<plughost::StateReport>& got = slot.instance->reports;
        if (got.size() != slot.reportsChecked + want.size())
            finding("%zu reports, expected %zu", got.size() - slot.reportsChecked, want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            const plughost::StateReport& g = got[slot.reportsChecked + i];
            if (g.pin != want[i].pin || g.state != want[i].state || g.clock != want[i].clock)
                finding("report pin %d state %d clock %d, expected pin %d state %d clock %d", g.pin,
                        static_cast<int32_t>(g.state), g.clock, want[i].pin, static_cast<int32_t>(want[i].state),
                        want[i].clock);
        }
        slot.reportsChecked = got.size();
        slot.requestsSeen = slot.instance->requests.size();
        want.clear();
    }

    void checkStray() {
        if (!plughost::Instance::strayRequests().empty()) {
            const plughost::Request& r = plughost::Instance::strayRequests().front();
            finding("a request (opcode %d) named a record no live instance owns", r.opcode);
        }
    }

    Reader reader;
    const Deliverable* deliverables;
    size_t count;
    Slot slots[kSlots];
    std::vector<plughost::StateReport> pending[kSlots];
};

}  // namespace

void runProgram(const uint8_t* data, size_t size, const Deliverable* deliverables, size_t count) {
    Run(data, size, deliverables, count).go();
}

}  // namespace fuzzing
