// One module instance driven as a host drives it: this side answers every
// request the instance makes, keeps the module's pin variables pointing at the
// host's buffers, and records every request so that callers can check them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "plughost/library.h"
#include "sem/records.h"

namespace plughost {

struct Request {
    const sem::ModuleRecord* record;  // as the instance passed it
    int32_t opcode;                   // sem::HostOp
    int32_t index;
    int32_t value;
    intptr_t pointer;
    float opt;
    intptr_t answer;
    bool duringProcess;   // made from inside processEntry
    sem::HostEvent event; // the copied event, for AddEvent
};

struct StateReport {
    int32_t pin;
    sem::PinState state;
    int32_t clock;
};

// A description that takes a pin, as the host counts pins.
struct DescribedPin {
    int32_t description;  // description index; -1 for a pin filled by Repeat
    sem::PinProperties properties;
};

// Reads a module's pin descriptions the way its pin table is built, asking
// through the record's dispatch entry; at most `limit` descriptions are read.
std::vector<DescribedPin> describePins(sem::ModuleRecord* record, int32_t limit = 256);

class Instance {
public:
    // makeModule(index, profile); null when it answers null. withCallback false passes a null HostCallback.
    static std::unique_ptr<Instance> make(const Library& library, int32_t index = 0, int32_t profile = 1,
                                          bool withCallback = true, void* hostHandle = nullptr);
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    ~Instance();  // closes the instance if it is still alive

    sem::ModuleRecord* record() const { return moduleRecord; }
    bool alive() const { return moduleRecord != nullptr; }

    // --- what this host answers -------------------------------------------
    // The described pins; read once at make (before any request is logged it is cleared).
    const std::vector<DescribedPin>& pins() const { return describedPins; }
    // GetPinCount; defaults to the number of described pins.
    int32_t pinCount = 0;
    int32_t sampleClock = 0;
    std::map<int32_t, int32_t> blockStartClock;  // per pin; 0 when absent
    // Points the module's variable for pin at buffer (when the pin has one) and
    // answers GetPinBuffer for it.
    void bindBuffer(int32_t pin, float* buffer);
    float* boundBuffer(int32_t pin) const;
    intptr_t addEventAnswer = 0;

    // --- driving ----------------------------------------------------------
    intptr_t dispatch(uint32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    void open();
    bool close();  // true when Close answered 1; the instance is gone either way
    void setSampleRate(float rate);
    void setBlockSize(int32_t size);
    bool getPinProperties(int32_t index, sem::PinProperties* properties);
    void deliver(const sem::HostEvent& event);
    void sendPinState(int32_t pin, sem::PinState state);
    void process(int32_t bufferOffset, int32_t sampleFrames);

    // --- what the instance did --------------------------------------------
    std::vector<Request> requests;
    std::vector<StateReport> reports;
    std::map<int32_t, StateReport> lastReport;  // per pin
    int32_t routineChanges = 0;
    void clearLog();

    // Requests that named a record no live instance owns.
    static std::vector<Request>& strayRequests();

private:
    explicit Instance(sem::ModuleRecord* record);
    intptr_t answer(Request& request);
    static intptr_t SEM_CDECL hostCallback(sem::ModuleRecord* record, int32_t opcode, int32_t index, int32_t value,
                                           void* ptr, float opt);

    sem::ModuleRecord* moduleRecord;
    std::vector<DescribedPin> describedPins;
    std::map<int32_t, float*> buffers;
    bool processing = false;
};

}  // namespace plughost
