// A test-only module class whose pin descriptions are set by the test and
// which records which of its virtual operations ran, with what.
#pragma once

#include <string>
#include <vector>

#include "plughost/instance.h"
#include "sem/entry.h"
#include "sem/module_base.h"

namespace testing {

struct ProbeDescription {
    int32_t datatype;
    uint32_t flags;
    bool withVariable;
};

class ProbeModule final : public sem::ModuleBase {
public:
    // Descriptions every new ProbeModule answers with.
    static std::vector<ProbeDescription>& descriptions();

    ProbeModule(sem::HostCallback hostCallback, void* hostHandle) : ModuleBase(hostCallback, hostHandle) {}
    static void fillModuleProperties(sem::ModuleProperties* properties);

    bool getPinProperties(int32_t index, sem::PinProperties* properties) override;
    void onPinStateChanged(sem::Pin* pin) override;
    void close() override { calls.push_back("close"); }
    void setSampleRate(float rate) override;
    void setBlockSize(int32_t size) override;
    void onNotify() override { calls.push_back("notify"); }
    void onNotifyCount(int32_t count) override { calls.push_back("notifyCount " + std::to_string(count)); }
    void onValueEvent(int32_t timeStamp, int32_t value, uint16_t extra) override;
    void onCustom(int32_t value, int32_t index, void* ptr) override;

    static void SEM_CDECL otherProcess(void* object, int32_t bufferOffset, int32_t sampleFrames);
    static void SEM_CDECL scheduledRoutine(void* object);

    std::vector<std::string> calls;        // virtual operations that ran
    std::vector<int32_t> queried;          // description indexes asked, in order
    std::vector<std::pair<int32_t, sem::PinState>> statesSeen;  // pin and its state inside the hook
    float* variables[8] = {};
    void* lastCustomPointer = nullptr;
    int32_t scheduledRuns = 0;
};

using ProbeEntry = sem::EntryPoints<ProbeModule>;

inline plughost::Library probeLibrary() {
    return plughost::Library::linkedIn(&ProbeEntry::getModuleProperties, &ProbeEntry::makeModule, "probe");
}

// Code addresses compared as numbers (the test framework prints no function pointers).
template <class Function>
uintptr_t codeAddress(Function function) {
    return reinterpret_cast<uintptr_t>(function);
}

inline ProbeModule& probeOf(const plughost::Instance& instance) {
    return *static_cast<ProbeModule*>(instance.record()->object);
}

}  // namespace testing
