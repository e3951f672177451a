#include "sem/module_base.h"

#include <cstring>
#include <new>

namespace sem {
namespace {

// Shared by every instance of the library; valid until the next DescribeRoutineRef.
RoutineRefDescriptor routineRefDescriptor;

ModuleBase* instanceOf(void* object) { return static_cast<ModuleBase*>(object); }

// The record's two library entries: recover the instance and forward.
intptr_t SEM_CDECL dispatchEntry(ModuleRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt) {
    return instanceOf(record->object)->dispatch(static_cast<uint32_t>(opcode), index, value, ptr, opt);
}

void SEM_CDECL eventEntry(void* object, const HostEvent* event) { instanceOf(object)->handleEvent(event); }

bool takesPin(const PinProperties& description) {
    return (description.flags & PinFlags::NoPin) == 0 || (description.flags & PinFlags::ForcePin) != 0;
}

}  // namespace

ModuleBase::ModuleBase(HostCallback callback, void* hostHandle)
    : hostCallback(callback),
      moduleRecord(),
      currentSampleRate(44100.0f),
      currentBlockSize(1024),
      pinTable(nullptr),
      routineRef{&idleProcess, 0, 0, 0},
      pinTableSize(0),
      scheduledRoutines() {
    std::memset(&moduleRecord, 0, sizeof moduleRecord);
    moduleRecord.magic = kModuleMagic;
    moduleRecord.processEntry = routineRef.code;
    moduleRecord.eventEntry = &eventEntry;
    moduleRecord.dispatchEntry = &dispatchEntry;
    moduleRecord.hostHandle = hostHandle;
    moduleRecord.object = this;
    moduleRecord.version = kModuleVersion;
}

ModuleBase::~ModuleBase() { releasePinTable(); }

void ModuleBase::onPinStateChanged(Pin*) {}

void ModuleBase::handleEvent(const HostEvent* event) {
    switch (static_cast<HostEventType>(event->type)) {
    case HostEventType::PinStateChange:
        // A host event may name any position; only a built pin hears it.
        if (Pin* pin = builtPin(static_cast<int32_t>(event->payload)))
            pin->statusChanged(static_cast<PinState>(event->value));
        break;
    case HostEventType::ValueEvent:
        onValueEvent(event->timeStamp, event->value, static_cast<uint16_t>(event->extra & 0xFFFFu));
        break;
    case HostEventType::ScheduledCall: runScheduledCall(event->payload); break;
    default: break;
    }
}

intptr_t ModuleBase::dispatch(uint32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    switch (static_cast<ModuleOp>(opcode)) {
    case ModuleOp::Open: open(); return 0;
    case ModuleOp::Close:
        close();
        delete this;  // the record goes with the instance
        return 1;
    case ModuleOp::SetSampleRate: setSampleRate(opt); return 0;
    case ModuleOp::SetBlockSize: setBlockSize(value); return 0;
    case ModuleOp::GetPinProperties:
        return getPinProperties(index, static_cast<PinProperties*>(ptr)) ? 1 : 0;
    case ModuleOp::Notify:
        onNotify();
        if (index > 0) onNotifyCount(index);
        return 0;
    case ModuleOp::Custom: onCustom(value, index, ptr); return 0;
    case ModuleOp::DescribeRoutineRef:
        routineRefDescriptor.count = 1;
        routineRefDescriptor.size = sizeof(ProcessRoutineRef);
        routineRefDescriptor.address = &routineRef;
        routineRefDescriptor.reserved = 0;
        return reinterpret_cast<intptr_t>(&routineRefDescriptor);
    }
    return 0;
}

void ModuleBase::open() {
    releasePinTable();  // a second open rebuilds from scratch
    buildPinTable();
}

void ModuleBase::close() {}
void ModuleBase::spareHook(int32_t, int32_t) {}
void ModuleBase::setSampleRate(float rate) { currentSampleRate = rate; }
void ModuleBase::setBlockSize(int32_t size) { currentBlockSize = size; }
float ModuleBase::sampleRate() const { return currentSampleRate; }
int32_t ModuleBase::blockSize() const { return currentBlockSize; }
bool ModuleBase::getPinProperties(int32_t, PinProperties*) { return false; }
bool ModuleBase::spareQueryA(int32_t) { return false; }
bool ModuleBase::spareQueryB(int32_t) { return false; }
void ModuleBase::onNotify() {}
void ModuleBase::onNotifyCount(int32_t) {}
void ModuleBase::onValueEvent(int32_t, int32_t, uint16_t) {}
void ModuleBase::onCustom(int32_t, int32_t, void*) {}

void ModuleBase::setProcessRoutine(const ProcessRoutineRef& routine) {
    if (routine == routineRef) return;
    routineRef = routine;
    moduleRecord.processEntry = routine.code;
    callHost(HostOp::ProcessRoutineChanged, 0, 0, nullptr, 0.0f);
}

intptr_t ModuleBase::scheduleCall(int32_t timeStamp, const ProcessRoutineRef& routine) {
    const auto code = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(routine.code));
    // Remember what was sent, so that a delivered event can only run a routine
    // this instance scheduled itself.
    uint32_t* slot = nullptr;
    for (uint32_t& known : scheduledRoutines) {
        if (known == code) {
            slot = &known;
            break;
        }
        if (!slot && known == 0) slot = &known;
    }
    if (!slot || code == 0) return 0;
    *slot = code;
    return addEvent(timeStamp, static_cast<int32_t>(HostEventType::ScheduledCall), 0, 0, code);
}

intptr_t ModuleBase::addEvent(int32_t timeStamp, int32_t type, int32_t value, uint32_t extra, uint32_t payload) {
    HostEvent event{timeStamp, type, value, extra, payload, 0};
    return callHost(HostOp::AddEvent, 0, 0, &event, 0.0f);
}

Pin* ModuleBase::builtPin(int32_t index) {
    if (index < 0 || index >= pinTableSize || !pinTable[index].filled()) return nullptr;
    return &pinTable[index];
}

bool ModuleBase::queryPinProperties(int32_t index, PinProperties* properties) {
    std::memset(properties, 0, sizeof *properties);
    return getPinProperties(index, properties);
}

int32_t ModuleBase::sampleClock() {
    return static_cast<int32_t>(callHost(HostOp::GetSampleClock, 0, 0, nullptr, 0.0f));
}

intptr_t ModuleBase::callHost(HostOp op, int32_t index, int32_t value, void* ptr, float opt) {
    if (!hostCallback) return 0;
    return hostCallback(&moduleRecord, static_cast<int32_t>(op), index, value, ptr, opt);
}

void SEM_CDECL ModuleBase::idleProcess(void*, int32_t, int32_t) {}

void ModuleBase::buildPinTable() {
    const auto count = static_cast<int32_t>(callHost(HostOp::GetPinCount, 0, 0, nullptr, 0.0f));
    int32_t capacity = 0;
    if (count > 0) {
        pinTable = new (std::nothrow) Pin[count];
        if (pinTable) capacity = count;  // without the whole table there are no pins
    }
    pinTableSize = capacity;

    PinProperties description;
    int32_t d = 0;
    int32_t built = 0;
    for (;; ++d) {
        if (!queryPinProperties(d, &description)) break;
        if (built >= capacity) break;  // after the query: one description past the last is asked
        if (takesPin(description)) {
            pinTable[built].init(this, built, description.datatype, description.variableAddress);
            ++built;
        }
    }
    queryPinProperties(d - 1, &description);
    if (takesPin(description) && (description.flags & PinFlags::Repeat) != 0) {
        for (; built < capacity; ++built) pinTable[built].init(this, built, description.datatype, nullptr);
    }
}

void ModuleBase::releasePinTable() {
    delete[] pinTable;
    pinTable = nullptr;
    pinTableSize = 0;
}

void ModuleBase::runScheduledCall(uint32_t code) {
    if (code == 0) return;
    for (uint32_t known : scheduledRoutines) {
        if (known == code) {
            reinterpret_cast<ScheduledRoutine>(static_cast<uintptr_t>(code))(this);
            return;
        }
    }
}

}  // namespace sem
