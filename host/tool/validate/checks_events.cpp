// events.*: pin-state changes for every pin and state, for pins that do not
// exist and events of unknown types, before and after Open.
#include <climits>
#include <cstring>

#include "check.h"
#include "drive.h"

namespace plughost::validate {
namespace {

constexpr int32_t kBlock = 64;
constexpr int32_t kFrames = 2048;

// The state reports an event gave: only on output pins, and with a state the
// format knows whenever every pin holds one (a module may pass on a state it
// was sent, so reports right after an out-of-range state are not held to it).
void verifyReports(const Driver& driver, const Instance& instance, size_t from, bool statesValid,
                   const std::string& what) {
    for (size_t r = from; r < instance.requests.size(); ++r) {
        const Request& request = instance.requests[r];
        if (request.opcode != static_cast<int32_t>(sem::HostOp::SetPinState)) continue;
        require(driver.shape().isOutput(request.index),
                format("%s: SetPinState on pin %d (%s), which is no output", what.c_str(), request.index,
                       driver.shape().pinName(request.index).c_str()));
        require(!statesValid || (request.value >= 0 && request.value <= 2),
                format("%s: SetPinState on %s with state %d, outside 0..2", what.c_str(),
                       driver.shape().pinName(request.index).c_str(), request.value));
    }
}

class EventRun {
public:
    explicit EventRun(CheckContext& context)
        : shape(shapeOf(context.library())),
          stream(makeStream(context.seed(), shape.inputs.size(), kFrames)),
          driver(context.library(), stream, {{0, kBlock}}) {
        clearStrayRequests();
    }

    // Delivers the event and, once open, processes a block after it.
    void send(const sem::HostEvent& event, bool statesValid, const std::string& what) {
        Instance& instance = driver.instance();
        if (opened) driver.clockForEvents();
        const size_t before = instance.requests.size();
        sem::HostEvent copy = event;
        instance.deliver(copy);
        require(std::memcmp(&copy, &event, sizeof copy) == 0, what + ": the module wrote into the event record");
        verifyReports(driver, instance, before, statesValid, what);
        requireNoStrayRequests(what.c_str());
        ++events;
        if (opened) {
            if (driver.streamPosition() + kBlock > kFrames) driver.rewind();
            driver.processBlock(0, kBlock);
            if (driver.faults.any()) fail("processing after " + what + ": " + driver.faults.describeFirst());
        }
    }
    void sendState(int32_t pin, int32_t state, const char* when) {
        const sem::HostEvent event{driver.instance().sampleClock,
                                   static_cast<int32_t>(sem::HostEventType::PinStateChange), state, 0,
                                   static_cast<uint32_t>(pin), 0};
        send(event, state >= 0 && state <= 2, format("state %d on pin %d %s", state, pin, when));
    }
    void open() {
        driver.start();
        opened = true;
        requireNoStrayRequests("at Open");
    }
    void close() {
        driver.close();
        requireNoStrayRequests("at Close");
    }

    Shape shape;
    Stream stream;
    Driver driver;
    bool opened = false;
    int events = 0;
};

const int32_t kStates[] = {0, 1, 2, 7};

std::string pinStates(CheckContext& context) {
    EventRun run(context);
    const auto pins = static_cast<int32_t>(run.shape.pins.size());
    for (int phase = 0; phase < 2; ++phase) {
        const char* when = phase ? "after Open" : "before Open";
        if (phase) run.open();
        for (int32_t pin = 0; pin < pins; ++pin) {
            for (int32_t state : kStates) run.sendState(pin, state, when);
            run.sendState(pin, 2, when);  // back to a known state before the next pin
        }
    }
    run.close();
    return format("%d events: every pin with states 0, 1, 2 and 7, before and after Open", run.events);
}

std::string missingPins(CheckContext& context) {
    EventRun run(context);
    const auto pins = static_cast<int32_t>(run.shape.pins.size());
    const int32_t missing[] = {pins, pins + 1, 1000, -1, 0x10000, INT_MAX, INT_MIN};
    for (int phase = 0; phase < 2; ++phase) {
        const char* when = phase ? "after Open" : "before Open";
        if (phase) run.open();
        for (int32_t pin : missing)
            for (int32_t state : kStates) run.sendState(pin, state, when);
    }
    run.close();
    return format("%d events for pins %d, %d, 1000, -1, 65536, INT_MAX and INT_MIN, before and after Open",
                  run.events, pins, pins + 1);
}

std::string unknownTypes(CheckContext& context) {
    EventRun run(context);
    Rng rng(context.seed());
    const int32_t types[] = {1, 3, 4, 5, 20, 22, 23, 100, -1, INT_MAX, INT_MIN};
    const auto pins = static_cast<int32_t>(run.shape.pins.size());
    for (int phase = 0; phase < 2; ++phase) {
        const char* when = phase ? "after Open" : "before Open";
        if (phase) run.open();
        for (int32_t type : types) {
            for (int i = 0; i < 4; ++i) {
                const uint32_t payload = i < 2 ? static_cast<uint32_t>(rng.range(0, pins)) : rng.next();
                const sem::HostEvent event{run.driver.instance().sampleClock, type, rng.range(-3, 9), rng.next(),
                                           payload, 0};
                run.send(event, true, format("event type %d (payload %u) %s", type, payload, when));
            }
        }
    }
    run.close();
    return format("%d events of types 1, 3, 4, 5, 20, 22, 23, 100, -1, INT_MAX, INT_MIN, before and after Open",
                  run.events);
}

}  // namespace

void addEventChecks(std::vector<Check>& checks) {
    checks.push_back({"events.pin-states", &pinStates, false});
    checks.push_back({"events.missing-pins", &missingPins, false});
    checks.push_back({"events.unknown-types", &unknownTypes, false});
}

}  // namespace plughost::validate
