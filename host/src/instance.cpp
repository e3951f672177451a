#include "plughost/instance.h"

#include <cstring>

namespace plughost {
namespace {

std::map<const sem::ModuleRecord*, Instance*>& liveInstances() {
    static std::map<const sem::ModuleRecord*, Instance*> instances;
    return instances;
}

bool takesPin(const sem::PinProperties& properties) {
    return (properties.flags & sem::PinFlags::NoPin) == 0 || (properties.flags & sem::PinFlags::ForcePin) != 0;
}

}  // namespace

std::vector<DescribedPin> describePins(sem::ModuleRecord* record, int32_t limit) {
    std::vector<DescribedPin> pins;
    for (int32_t d = 0; d < limit; ++d) {
        sem::PinProperties properties;
        std::memset(&properties, 0, sizeof properties);
        const intptr_t answer = record->dispatchEntry(record, static_cast<int32_t>(sem::ModuleOp::GetPinProperties), d,
                                                      0, &properties, 0.0f);
        if (answer == 0) break;
        if (takesPin(properties)) pins.push_back({d, properties});
    }
    return pins;
}

std::unique_ptr<Instance> Instance::make(const Library& library, int32_t index, int32_t profile, bool withCallback,
                                         void* hostHandle) {
    sem::ModuleRecord* record = library.makeModule()(index, profile, withCallback ? &hostCallback : nullptr, hostHandle);
    if (!record) return nullptr;
    std::unique_ptr<Instance> instance(new Instance(record));
    instance->describedPins = describePins(record);
    instance->pinCount = static_cast<int32_t>(instance->describedPins.size());
    return instance;
}

Instance::Instance(sem::ModuleRecord* record) : moduleRecord(record) { liveInstances()[record] = this; }

Instance::~Instance() {
    if (alive()) close();
}

void Instance::bindBuffer(int32_t pin, float* buffer) {
    buffers[pin] = buffer;
    if (pin >= 0 && pin < static_cast<int32_t>(describedPins.size())) {
        if (void* variable = describedPins[pin].properties.variableAddress) *static_cast<float**>(variable) = buffer;
    }
}

float* Instance::boundBuffer(int32_t pin) const {
    auto found = buffers.find(pin);
    return found == buffers.end() ? nullptr : found->second;
}

intptr_t Instance::dispatch(uint32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    if (opcode == static_cast<uint32_t>(sem::ModuleOp::Close)) {
        const intptr_t result = moduleRecord->dispatchEntry(moduleRecord, static_cast<int32_t>(opcode), index, value,
                                                            ptr, opt);
        liveInstances().erase(moduleRecord);
        moduleRecord = nullptr;
        return result;
    }
    return moduleRecord->dispatchEntry(moduleRecord, static_cast<int32_t>(opcode), index, value, ptr, opt);
}

void Instance::open() { dispatch(static_cast<uint32_t>(sem::ModuleOp::Open)); }
bool Instance::close() { return dispatch(static_cast<uint32_t>(sem::ModuleOp::Close)) == 1; }
void Instance::setSampleRate(float rate) {
    dispatch(static_cast<uint32_t>(sem::ModuleOp::SetSampleRate), 0, 0, nullptr, rate);
}
void Instance::setBlockSize(int32_t size) { dispatch(static_cast<uint32_t>(sem::ModuleOp::SetBlockSize), 0, size); }
bool Instance::getPinProperties(int32_t index, sem::PinProperties* properties) {
    return dispatch(static_cast<uint32_t>(sem::ModuleOp::GetPinProperties), index, 0, properties) != 0;
}

void Instance::deliver(const sem::HostEvent& event) { moduleRecord->eventEntry(moduleRecord->object, &event); }

void Instance::sendPinState(int32_t pin, sem::PinState state) {
    deliver({sampleClock, static_cast<int32_t>(sem::HostEventType::PinStateChange), static_cast<int32_t>(state), 0,
             static_cast<uint32_t>(pin), 0});
}

void Instance::process(int32_t bufferOffset, int32_t sampleFrames) {
    processing = true;
    moduleRecord->processEntry(moduleRecord->object, bufferOffset, sampleFrames);
    processing = false;
}

void Instance::clearLog() {
    requests.clear();
    reports.clear();
    lastReport.clear();
    routineChanges = 0;
}

std::vector<Request>& Instance::strayRequests() {
    static std::vector<Request> stray;
    return stray;
}

intptr_t Instance::answer(Request& request) {
    request.duringProcess = processing;
    switch (static_cast<sem::HostOp>(request.opcode)) {
    case sem::HostOp::SetPinState: {
        const StateReport report{request.index, static_cast<sem::PinState>(request.value),
                                 static_cast<int32_t>(request.pointer)};
        reports.push_back(report);
        lastReport[request.index] = report;
        return 0;
    }
    case sem::HostOp::GetSampleClock: return sampleClock;
    case sem::HostOp::GetPinBuffer: return reinterpret_cast<intptr_t>(boundBuffer(request.index));
    case sem::HostOp::GetBlockStartClock: {
        auto found = blockStartClock.find(request.index);
        return found == blockStartClock.end() ? 0 : found->second;
    }
    case sem::HostOp::GetPinCount: return pinCount;
    case sem::HostOp::AddEvent:
        if (request.pointer) std::memcpy(&request.event, reinterpret_cast<const void*>(request.pointer), sizeof request.event);
        return addEventAnswer;
    case sem::HostOp::ProcessRoutineChanged: ++routineChanges; return 0;
    }
    return 0;
}

intptr_t SEM_CDECL Instance::hostCallback(sem::ModuleRecord* record, int32_t opcode, int32_t index, int32_t value,
                                          void* ptr, float opt) {
    Request request{record, opcode, index, value, reinterpret_cast<intptr_t>(ptr), opt, 0, false, {}};
    auto found = liveInstances().find(record);
    if (found == liveInstances().end()) {
        strayRequests().push_back(request);
        return 0;
    }
    Instance& instance = *found->second;
    request.answer = instance.answer(request);
    instance.requests.push_back(request);
    return request.answer;
}

}  // namespace plughost
