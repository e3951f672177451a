#include "sem/pin.h"

#include "sem/module_base.h"

namespace sem {

void Pin::init(ModuleBase* owner, int32_t pinIndex, int32_t pinDatatype, void* variableAddress) {
    module = owner;
    index = pinIndex;
    datatype = pinDatatype;
    variable = variableAddress;
    currentState = static_cast<int32_t>(PinState::Static);
    if (variableAddress) {
        storage.value32 = 0;
        return;
    }
    switch (static_cast<PinDatatype>(pinDatatype)) {
    case PinDatatype::Value16: storage.value16 = 0; break;
    case PinDatatype::Value8: storage.value8 = 0; break;
    case PinDatatype::AudioStream:
        storage.buffer = reinterpret_cast<float*>(module->callHost(HostOp::GetPinBuffer, index, 0, nullptr, 0.0f));
        break;
    case PinDatatype::Value32A:
    case PinDatatype::Value32B: storage.value32 = 0; break;
    default: return;  // no storage: variable stays null
    }
    variable = &storage;
}

void Pin::statusChanged(PinState newState) {
    currentState = static_cast<int32_t>(newState);
    module->onPinStateChanged(this);
    if (newState == PinState::OneChange) currentState = static_cast<int32_t>(PinState::Static);
}

void Pin::reportState(int32_t clock, PinState newState) {
    module->callHost(HostOp::SetPinState, index, static_cast<int32_t>(newState),
                     reinterpret_cast<void*>(static_cast<intptr_t>(clock)), 0.0f);
}

float Pin::value() {
    const auto blockStart = static_cast<int32_t>(module->callHost(HostOp::GetBlockStartClock, index, 0, nullptr, 0.0f));
    const auto clock = static_cast<int32_t>(module->callHost(HostOp::GetSampleClock, 0, 0, nullptr, 0.0f));
    if (!variable || datatype != static_cast<int32_t>(PinDatatype::AudioStream)) return 0.0f;
    const float* buffer = *static_cast<float* const*>(variable);
    if (!buffer) return 0.0f;
    // Wrapping subtraction: clocks are free-running 32-bit counters.
    const auto position = static_cast<int32_t>(static_cast<uint32_t>(clock) - static_cast<uint32_t>(blockStart));
    return buffer[position];
}

}  // namespace sem
