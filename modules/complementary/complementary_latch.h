// Set/reset flip-flop with a per-sample threshold input, the output OUT and its
// complement negOUT; the priority of same-sample crossings is fixed per deliverable.
#pragma once

#include <limits>

#include "latch_kernel.h"
#include "latch_rules.h"
#include "pin_rows.h"
#include "sem/module_base.h"

namespace latch {

// Deliverable: provides `static constexpr ModuleTexts texts` and `static constexpr LatchPriority priority`.
template <class Deliverable>
class ComplementaryLatch final : public sem::ModuleBase {
public:
    ComplementaryLatch(sem::HostCallback hostCallback, void* hostHandle) : ModuleBase(hostCallback, hostHandle) {}
    ~ComplementaryLatch() override = default;

    static void fillModuleProperties(sem::ModuleProperties* properties) { fillTexts(Deliverable::texts, properties); }

    void onPinStateChanged(sem::Pin*) override {
        const sem::PinState state =
            outputPinState(stateOf(builtPin(0)), stateOf(builtPin(1)), {builtPin(0), builtPin(1), builtPin(3)});
        reportOutputState(*this, state, {2, 4});
    }

    void open() override {
        ModuleBase::open();
        // Element 0, whatever offset the first block has. Without a buffer the
        // first step still cannot be a set crossing.
        previousSet = thresholdBuffer ? thresholdBuffer[0] + 0.1f : std::numeric_limits<float>::infinity();
        previousReset = std::numeric_limits<float>::infinity();  // an input already high is no edge
        outLevel = kLow;
        negOutLevel = kHigh;
        setProcessRoutine({&processSamples, 0, 0, 0});
    }

    bool getPinProperties(int32_t index, sem::PinProperties* properties) override {
        return describePin(kPins, *this, index, properties);
    }

    static void SEM_CDECL processSamples(void* object, int32_t bufferOffset, int32_t sampleFrames) {
        auto& self = *static_cast<ComplementaryLatch*>(object);
        if (sampleFrames <= 0 || bufferOffset < 0 || !self.setBuffer || !self.resetBuffer || !self.outBuffer ||
            !self.thresholdBuffer || !self.negOutBuffer)
            return;
        LatchCarry carry{self.previousSet, self.previousReset, self.outLevel};
        runVariableThreshold<Deliverable::priority, true>(
            self.setBuffer + bufferOffset, self.resetBuffer + bufferOffset, self.thresholdBuffer + bufferOffset,
            self.outBuffer + bufferOffset, self.negOutBuffer + bufferOffset, sampleFrames, carry);
        self.previousSet = carry.previousSet;
        self.previousReset = carry.previousReset;
        self.outLevel = carry.outLevel;
        self.negOutLevel = kHigh - carry.outLevel;
    }

private:
    // The host writes the buffer variables; they start null so that a host
    // which never does is skipped rather than followed.
    float* setBuffer = nullptr;
    float* resetBuffer = nullptr;
    float* outBuffer = nullptr;
    float outLevel = 0.0f;
    float negOutLevel = 0.0f;
    float* thresholdBuffer = nullptr;
    float previousSet = 0.0f;
    float previousReset = 0.0f;
    float* negOutBuffer = nullptr;

    // After the members it names: a static member's initializer sees only what is declared above it.
    static constexpr PinRow<ComplementaryLatch> kPins[] = {
        // name       direction  datatype  default  extra            variable
        {"upSET",     kInput,    kAudio,   "0",     nullptr,         &ComplementaryLatch::setBuffer},
        {"upRESET",   kInput,    kAudio,   "0",     nullptr,         &ComplementaryLatch::resetBuffer},
        {"OUT",       kOutput,   kAudio,   nullptr, nullptr,         &ComplementaryLatch::outBuffer},
        {"Threshold", kInput,    kAudio,   "3.33",  "12,-12,12,-12", &ComplementaryLatch::thresholdBuffer},
        {"negOUT",    kOutput,   kAudio,   nullptr, nullptr,         &ComplementaryLatch::negOutBuffer},
    };
};

}  // namespace latch
