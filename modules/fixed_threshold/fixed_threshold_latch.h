// Set/reset flip-flop with a threshold fixed at 0.333 (3.33 V) and one output.
#pragma once

#include <limits>

#include "latch_kernel.h"
#include "latch_rules.h"
#include "pin_rows.h"
#include "sem/module_base.h"

namespace latch {

// Deliverable: provides `static constexpr ModuleTexts texts`.
template <class Deliverable>
class FixedThresholdLatch final : public sem::ModuleBase {
public:
    static constexpr float kThreshold = 0.333f;

    FixedThresholdLatch(sem::HostCallback hostCallback, void* hostHandle) : ModuleBase(hostCallback, hostHandle) {}
    ~FixedThresholdLatch() override = default;

    static void fillModuleProperties(sem::ModuleProperties* properties) { fillTexts(Deliverable::texts, properties); }

    void onPinStateChanged(sem::Pin*) override {
        const sem::PinState state = outputPinState(stateOf(builtPin(0)), stateOf(builtPin(1)), {builtPin(0), builtPin(1)});
        reportOutputState(*this, state, {2});
    }

    void open() override {
        ModuleBase::open();
        threshold = kThreshold;
        previousSet = threshold + 0.1f;  // the first step cannot be a set crossing
        previousReset = std::numeric_limits<float>::infinity();  // nor a reset crossing
        outLevel = kLow;
        setProcessRoutine({&processSamples, 0, 0, 0});
    }

    bool getPinProperties(int32_t index, sem::PinProperties* properties) override {
        return describePin(kPins, *this, index, properties);
    }

    static void SEM_CDECL processSamples(void* object, int32_t bufferOffset, int32_t sampleFrames) {
        auto& self = *static_cast<FixedThresholdLatch*>(object);
        if (sampleFrames <= 0 || bufferOffset < 0 || !self.setBuffer || !self.resetBuffer || !self.outBuffer) return;
        LatchCarry carry{self.previousSet, self.previousReset, self.outLevel};
        runFixedThreshold<LatchPriority::ResetWins>(self.setBuffer + bufferOffset, self.resetBuffer + bufferOffset,
                                                    self.threshold, self.outBuffer + bufferOffset, sampleFrames, carry);
        self.previousSet = carry.previousSet;
        self.previousReset = carry.previousReset;
        self.outLevel = carry.outLevel;
    }

private:
    // The host writes the buffer variables; they start null so that a host
    // which never does is skipped rather than followed.
    float* setBuffer = nullptr;
    float* resetBuffer = nullptr;
    float* outBuffer = nullptr;
    float previousSet = 0.0f;
    float previousReset = 0.0f;
    float threshold = 0.0f;
    float outLevel = 0.0f;

    // After the members it names: a static member's initializer sees only what is declared above it.
    static constexpr PinRow<FixedThresholdLatch> kPins[] = {
        // name       direction  datatype  default  extra    variable
        {"upSET",     kInput,    kAudio,   "0",     nullptr, &FixedThresholdLatch::setBuffer},
        {"upRESET",   kInput,    kAudio,   "0",     nullptr, &FixedThresholdLatch::resetBuffer},
        {"OUT",       kOutput,   kAudio,   nullptr, nullptr, &FixedThresholdLatch::outBuffer},
    };
};

}  // namespace latch
