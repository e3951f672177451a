#include "latch_rules.h"

#include <cmath>

namespace latch {

sem::PinState stateOf(const sem::Pin* pin) { return pin ? pin->state() : sem::PinState::Static; }

sem::PinState outputPinState(sem::PinState a, sem::PinState b, std::initializer_list<sem::Pin*> testedPins) {
    sem::PinState result = static_cast<int32_t>(a) > static_cast<int32_t>(b) ? a : b;
    for (sem::Pin* pin : testedPins) {
        if (static_cast<int32_t>(stateOf(pin)) >= static_cast<int32_t>(sem::PinState::Streaming)) continue;
        const float sample = pin ? pin->value() : 0.0f;
        if (sample == 0.0f || std::isnan(sample)) result = sem::PinState::OneChange;
    }
    return result;
}

void reportOutputState(sem::ModuleBase& module, sem::PinState state, std::initializer_list<int32_t> outputPins) {
    for (int32_t index : outputPins) {
        sem::Pin* pin = module.builtPin(index);
        if (!pin) continue;
        const int32_t clock = module.sampleClock();
        pin->reportState(clock, state);
    }
}

}  // namespace latch
