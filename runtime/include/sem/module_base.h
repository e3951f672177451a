// Base of every module class: owns the instance's ModuleRecord and pin table,
// answers the host's requests and events, and holds the switchable routine.
#pragma once

#include <cstdint>

#include "sem/pin.h"
#include "sem/records.h"

namespace sem {

class ModuleBase {
public:
    // No host request is made and hostHandle is only stored. hostCallback may be null.
    ModuleBase(HostCallback hostCallback, void* hostHandle);
    ModuleBase(const ModuleBase&) = delete;
    ModuleBase& operator=(const ModuleBase&) = delete;

    // The virtual operations, in slot order.
    virtual ~ModuleBase();
    virtual void onPinStateChanged(Pin* pin);
    virtual void handleEvent(const HostEvent* event);
    virtual intptr_t dispatch(uint32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    virtual void open();  // builds the pin table; overrides call it first
    virtual void close();
    virtual void spareHook(int32_t a, int32_t b);
    virtual void setSampleRate(float rate);
    virtual void setBlockSize(int32_t size);
    virtual float sampleRate() const;
    virtual int32_t blockSize() const;
    virtual bool getPinProperties(int32_t index, PinProperties* properties);
    virtual bool spareQueryA(int32_t a);
    virtual bool spareQueryB(int32_t a);
    virtual void onNotify();
    virtual void onNotifyCount(int32_t count);
    virtual void onValueEvent(int32_t timeStamp, int32_t value, uint16_t extra);
    virtual void onCustom(int32_t value, int32_t index, void* ptr);

    // Installs a routine into processEntry; tells the host only on a real change.
    void setProcessRoutine(const ProcessRoutineRef& routine);
    ProcessRoutineRef processRoutine() const { return routineRef; }
    // Hands the host a ScheduledCall event; on delivery the routine runs on this instance.
    // Returns 0 without asking the host when too many distinct routines are pending.
    intptr_t scheduleCall(int32_t timeStamp, const ProcessRoutineRef& routine);
    intptr_t addEvent(int32_t timeStamp, int32_t type, int32_t value, uint32_t extra, uint32_t payload);

    ModuleRecord* record() { return &moduleRecord; }

    // Unchecked, as the table is indexed by fixed description positions.
    Pin* pinAt(int32_t index) { return &pinTable[index]; }
    // Checked: null for an index outside the table or an unfilled entry.
    Pin* builtPin(int32_t index);
    int32_t pinCount() const { return pinTableSize; }
    // Clears the record, then asks getPinProperties.
    bool queryPinProperties(int32_t index, PinProperties* properties);
    int32_t sampleClock();

    // The one way to the host: 0 without a callback.
    intptr_t callHost(HostOp op, int32_t index, int32_t value, void* ptr, float opt);

    static void SEM_CDECL idleProcess(void* object, int32_t bufferOffset, int32_t sampleFrames);

    // A routine a ScheduledCall event runs on the instance.
    using ScheduledRoutine = void(SEM_CDECL*)(void* object);

private:
    void buildPinTable();
    void releasePinTable();
    void runScheduledCall(uint32_t code);

    static constexpr int kMaxScheduledRoutines = 4;

    HostCallback hostCallback;
    ModuleRecord moduleRecord;
    float currentSampleRate;
    int32_t currentBlockSize;
    Pin* pinTable;
    ProcessRoutineRef routineRef;
    int32_t pinTableSize;
    uint32_t scheduledRoutines[kMaxScheduledRoutines];
};

}  // namespace sem
