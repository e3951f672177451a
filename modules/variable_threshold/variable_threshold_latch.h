// Set/reset flip-flop with a per-sample threshold pin and one output; how the
// threshold pin is described to the host is fixed per deliverable.
#pragma once

#include <limits>

#include "latch_kernel.h"
#include "latch_rules.h"
#include "pin_rows.h"
#include "sem/module_base.h"

namespace latch {

// How a deliverable describes its Threshold pin; the module reads it alike in all.
struct ThresholdPin {
    int32_t direction;
    const char* defaultValue;
    const char* extraText;  // null: not written
};

// Deliverable: provides `static constexpr ModuleTexts texts` and `static constexpr ThresholdPin thresholdPin`.
template <class Deliverable>
class VariableThresholdLatch final : public sem::ModuleBase {
public:
    VariableThresholdLatch(sem::HostCallback hostCallback, void* hostHandle) : ModuleBase(hostCallback, hostHandle) {}
    ~VariableThresholdLatch() override = default;

    static void fillModuleProperties(sem::ModuleProperties* properties) { fillTexts(Deliverable::texts, properties); }

    void onPinStateChanged(sem::Pin*) override {
        const sem::PinState state =
            outputPinState(stateOf(builtPin(0)), stateOf(builtPin(1)), {builtPin(0), builtPin(1), builtPin(3)});
        reportOutputState(*this, state, {2});
    }

    void open() override {
        ModuleBase::open();
        // Element 0, whatever offset the first block has. Without a buffer the
        // first step still cannot be a set crossing.
        previousSet = thresholdBuffer ? thresholdBuffer[0] + 0.1f : std::numeric_limits<float>::infinity();
        previousReset = std::numeric_limits<float>::infinity();  // an input already high is no edge
        outLevel = kLow;
        setProcessRoutine({&processSamples, 0, 0, 0});
    }

    bool getPinProperties(int32_t index, sem::PinProperties* properties) override {
        return describePin(kPins, *this, index, properties);
    }

    static void SEM_CDECL processSamples(void* object, int32_t bufferOffset, int32_t sampleFrames) {
        auto& self = *static_cast<VariableThresholdLatch*>(object);
        if (sampleFrames <= 0 || bufferOffset < 0 || !self.setBuffer || !self.resetBuffer || !self.outBuffer ||
            !self.thresholdBuffer)
            return;
        LatchCarry carry{self.previousSet, self.previousReset, self.outLevel};
        runVariableThreshold<LatchPriority::ResetWins, false>(
            self.setBuffer + bufferOffset, self.resetBuffer + bufferOffset, self.thresholdBuffer + bufferOffset,
            self.outBuffer + bufferOffset, nullptr, sampleFrames, carry);
        self.previousSet = carry.previousSet;
        self.previousReset = carry.previousReset;
        self.outLevel = carry.outLevel;
    }

private:
    static constexpr ThresholdPin kThreshold = Deliverable::thresholdPin;

    // The host writes the buffer variables; they start null so that a host
    // which never does is skipped rather than followed.
    float* setBuffer = nullptr;
    float* resetBuffer = nullptr;
    float* outBuffer = nullptr;
    float outLevel = 0.0f;
    float* thresholdBuffer = nullptr;
    float previousSet = 0.0f;
    float previousReset = 0.0f;

    // After the members it names: a static member's initializer sees only what is declared above it.
    static constexpr PinRow<VariableThresholdLatch> kPins[] = {
        // name       direction             datatype  default                   extra                   variable
        {"upSET",     kInput,               kAudio,   "0",                      nullptr,                &VariableThresholdLatch::setBuffer},
        {"upRESET",   kInput,               kAudio,   "0",                      nullptr,                &VariableThresholdLatch::resetBuffer},
        {"OUT",       kOutput,              kAudio,   nullptr,                  nullptr,                &VariableThresholdLatch::outBuffer},
        {"Threshold", kThreshold.direction, kAudio,   kThreshold.defaultValue,  kThreshold.extraText,   &VariableThresholdLatch::thresholdBuffer},
    };
};

}  // namespace latch
