#include "probe_module.h"

namespace testing {

std::vector<ProbeDescription>& ProbeModule::descriptions() {
    static std::vector<ProbeDescription> table;
    return table;
}

void ProbeModule::fillModuleProperties(sem::ModuleProperties* properties) {
    properties->id = "probe";
    properties->name = "Probe";
    properties->about = "test module";
}

bool ProbeModule::getPinProperties(int32_t index, sem::PinProperties* properties) {
    queried.push_back(index);
    const auto& table = descriptions();
    if (index < 0 || index >= static_cast<int32_t>(table.size())) return false;
    const ProbeDescription& description = table[index];
    properties->variableAddress = description.withVariable && index < 8 ? &variables[index] : nullptr;
    properties->direction = 0;
    properties->datatype = description.datatype;
    properties->name = "probe";
    properties->flags = description.flags;
    return true;
}

void ProbeModule::onPinStateChanged(sem::Pin* pin) { statesSeen.emplace_back(pin->pinIndex(), pin->state()); }

void ProbeModule::setSampleRate(float rate) {
    calls.push_back("setSampleRate");
    ModuleBase::setSampleRate(rate);
}

void ProbeModule::setBlockSize(int32_t size) {
    calls.push_back("setBlockSize");
    ModuleBase::setBlockSize(size);
}

void ProbeModule::onValueEvent(int32_t timeStamp, int32_t value, uint16_t extra) {
    calls.push_back("value " + std::to_string(timeStamp) + " " + std::to_string(value) + " " + std::to_string(extra));
}

void ProbeModule::onCustom(int32_t value, int32_t index, void* ptr) {
    calls.push_back("custom " + std::to_string(value) + " " + std::to_string(index));
    lastCustomPointer = ptr;
}

void SEM_CDECL ProbeModule::otherProcess(void*, int32_t, int32_t) {}

void SEM_CDECL ProbeModule::scheduledRoutine(void* object) { ++static_cast<ProbeModule*>(object)->scheduledRuns; }

}  // namespace testing
