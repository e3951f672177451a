// Drives one deliverable through our host: buffers for every pin, bound before
// Open, and helpers to run sample steps and read the outputs back.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plughost/instance.h"
#include "plughost/float_bits.h"
#include "sem/entry.h"

namespace testing {

using plughost::bitsOf;
using plughost::floatOf;

enum PinIndex : int32_t { kSet = 0, kReset = 1, kOut = 2, kThreshold = 3, kNegOut = 4 };

template <class Module>
plughost::Library linkedIn() {
    return plughost::Library::linkedIn(&sem::EntryPoints<Module>::getModuleProperties,
                                       &sem::EntryPoints<Module>::makeModule);
}

// One sample step: the inputs and the OUT the rules give.
struct Step {
    float set, reset, threshold, out;
};

class Harness {
public:
    Harness(const plughost::Library& library, int32_t frames = 256, int32_t pinCount = -1)
        : instance(plughost::Instance::make(library)) {
        if (pinCount >= 0) instance->pinCount = pinCount;
        buffers.assign(8, std::vector<float>(static_cast<size_t>(frames), 0.0f));
        for (int32_t pin = 0; pin < static_cast<int32_t>(instance->pins().size()); ++pin)
            instance->bindBuffer(pin, buffers[pin].data());
    }

    float* buffer(int32_t pin) { return buffers[pin].data(); }
    bool hasPin(int32_t pin) const { return pin < static_cast<int32_t>(instance->pins().size()); }

    void open(float thresholdAtOpen = 0.333f) {
        buffers[kThreshold][0] = thresholdAtOpen;
        instance->open();
    }

    // Runs the steps as one block at offset; returns OUT for each step.
    std::vector<float> run(const std::vector<Step>& steps, int32_t offset = 0) {
        const auto n = static_cast<int32_t>(steps.size());
        for (int32_t i = 0; i < n; ++i) {
            buffers[kSet][offset + i] = steps[i].set;
            buffers[kReset][offset + i] = steps[i].reset;
            buffers[kThreshold][offset + i] = steps[i].threshold;
        }
        instance->process(offset, n);
        return std::vector<float>(buffers[kOut].begin() + offset, buffers[kOut].begin() + offset + n);
    }

    std::unique_ptr<plughost::Instance> instance;
    std::vector<std::vector<float>> buffers;
};

inline std::vector<float> expectedOut(const std::vector<Step>& steps) {
    std::vector<float> out;
    for (const Step& step : steps) out.push_back(step.out);
    return out;
}

}  // namespace testing

namespace testing {

// The instance's requests in a compact form: "B3" GetBlockStartClock for pin 3,
// "C" GetSampleClock, "S2=1@5" SetPinState pin 2 state 1 at clock 5, "?op" others.
inline std::vector<std::string> requestSequence(const plughost::Instance& instance) {
    std::vector<std::string> sequence;
    for (const plughost::Request& request : instance.requests) {
        switch (static_cast<sem::HostOp>(request.opcode)) {
        case sem::HostOp::GetBlockStartClock: sequence.push_back("B" + std::to_string(request.index)); break;
        case sem::HostOp::GetSampleClock: sequence.push_back("C"); break;
        case sem::HostOp::SetPinState:
            sequence.push_back("S" + std::to_string(request.index) + "=" + std::to_string(request.value) + "@" +
                               std::to_string(request.pointer));
            break;
        default: sequence.push_back("?" + std::to_string(request.opcode));
        }
    }
    return sequence;
}

}  // namespace testing
