// One entry of an instance's pin table.
#pragma once

#include <cstdint>

#include "sem/records.h"

namespace sem {

class ModuleBase;

class Pin {
public:
    Pin() = default;  // unfilled until init
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;
    virtual ~Pin() = default;  // what variable points to belongs to the module or the host

    // [open] Fills this entry. A null variableAddress gives the pin its own
    // storage by datatype (an AudioStream pin asks the host for its buffer).
    void init(ModuleBase* owner, int32_t pinIndex, int32_t pinDatatype, void* variableAddress);

    bool filled() const { return module != nullptr; }
    PinState state() const { return static_cast<PinState>(currentState); }
    int32_t pinIndex() const { return index; }
    int32_t pinDatatype() const { return datatype; }
    void* pinVariable() const { return variable; }

    // [event] Stores the state, runs the module's hook, then lets OneChange fall back to Static.
    void statusChanged(PinState newState);
    // Tells the host an output's new state; this Pin's own state is left as it was.
    void reportState(int32_t clock, PinState newState);
    // The sample at the host's current clock (block start clock asked first).
    // 0.0 for a pin that has no buffer to read.
    float value();

private:
    void* variable = nullptr;
    ModuleBase* module = nullptr;
    int32_t index = 0;
    int32_t currentState = 0;
    int32_t datatype = 0;
    union {
        int16_t value16;
        int8_t value8;
        int32_t value32;
        float* buffer;
    } storage = {};
};

}  // namespace sem
