// The records and codes that cross the host boundary. Every record holds only
// fixed-width words; the enums live beside them and are stored as int32.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sem/platform.h"

namespace sem {

static_assert(sizeof(void*) == 4, "pointers cross the boundary as 32-bit words");
static_assert(sizeof(float) == 4, "samples are 32-bit floats");

struct ModuleRecord;
struct ModuleProperties;
struct HostEvent;

// Requests the host makes of an instance through ModuleRecord::dispatchEntry.
// Compared unsigned: a negative opcode is just a large unknown one.
enum class ModuleOp : uint32_t {
    Open = 0,
    Close = 1,
    SetSampleRate = 2,
    SetBlockSize = 3,
    GetPinProperties = 6,
    Notify = 8,
    Custom = 12,
    DescribeRoutineRef = 13,
};

// Requests an instance makes of the host through its HostCallback.
enum class HostOp : int32_t {
    SetPinState = 0,         // index pin, value PinState, pointer carries the sample clock
    GetSampleClock = 3,      // -> current sample clock
    GetPinBuffer = 7,        // index pin -> address of the pin's float buffer
    GetBlockStartClock = 8,  // index pin -> clock of that buffer's first sample
    GetPinCount = 14,        // -> number of pins, signed
    AddEvent = 19,           // pointer to a HostEvent the host copies before returning
    ProcessRoutineChanged = 22,
};

enum class HostEventType : int32_t {
    PinStateChange = 0,  // payload pin index, value new PinState
    ValueEvent = 2,      // timeStamp, value, low 16 bits of extra
    ScheduledCall = 21,  // payload code address sent by this instance's scheduleCall
};

namespace PinFlags {
enum : uint32_t {
    Repeat = 0x8,       // on the last description only: fills the rest of the table
    NoPin = 0x400,      // the description takes no pin
    ForcePin = 0x8000,  // cancels NoPin
};
}  // namespace PinFlags

enum class PinDatatype : int32_t {
    Value16 = 0,
    Value8 = 4,
    AudioStream = 5,
    Value32A = 6,
    Value32B = 8,
};

enum class PinDirection : int32_t {
    Input = 0,
    Output = 1,
};

// Ordered: modules take the larger of two states and test against Streaming.
enum class PinState : int32_t {
    Static = 0,
    OneChange = 1,
    Streaming = 2,
};

// [any thread the host likes, never two entries of one instance at once]
// record: the address makeModule returned; opt is 0 in every request.
using HostCallback = intptr_t(SEM_CDECL*)(ModuleRecord* record, int32_t opcode, int32_t index,
                                          int32_t value, void* ptr, float opt);
// object: the record's object word. Must not crash for sampleFrames <= 0.
using ProcessFunction = void(SEM_CDECL*)(void* object, int32_t bufferOffset, int32_t sampleFrames);
using DispatchFunction = intptr_t(SEM_CDECL*)(ModuleRecord* record, int32_t opcode, int32_t index,
                                              int32_t value, void* ptr, float opt);
using EventFunction = void(SEM_CDECL*)(void* object, const HostEvent* event);
using GetModulePropertiesFunction = int32_t(SEM_CDECL*)(int32_t index, ModuleProperties* properties);
using MakeModuleFunction = ModuleRecord*(SEM_CDECL*)(int32_t index, int32_t profile,
                                                     HostCallback hostCallback, void* hostHandle);

// Owned by the host; the library writes id, name, about and stamp only.
struct ModuleProperties {
    const char* id;     // library constants, valid while the library is loaded
    const char* name;
    const char* about;
    uint32_t unused12;  // never written
    uint32_t unused16;  // never written
    int32_t stamp;      // always kStamp
};
inline constexpr int32_t kStamp = 2230;
static_assert(sizeof(ModuleProperties) == 24);
static_assert(offsetof(ModuleProperties, id) == 0);
static_assert(offsetof(ModuleProperties, name) == 4);
static_assert(offsetof(ModuleProperties, about) == 8);
static_assert(offsetof(ModuleProperties, unused12) == 12);
static_assert(offsetof(ModuleProperties, unused16) == 16);
static_assert(offsetof(ModuleProperties, stamp) == 20);

inline constexpr uint32_t kModuleMagic = 0x5345504C;  // "SEPL" read as a little-endian word
inline constexpr int32_t kModuleVersion = 1;

// Embedded in the instance and alive exactly as long as it; after construction
// only processEntry is ever written again.
struct ModuleRecord {
    uint32_t magic;
    int32_t version;
    void* hostHandle;  // stored, never read
    void* object;      // first argument of eventEntry and processEntry
    uint32_t reserved16;
    DispatchFunction dispatchEntry;
    ProcessFunction processEntry;
    EventFunction eventEntry;
    uint32_t reserved32[4];
};
static_assert(sizeof(ModuleRecord) == 48);
static_assert(offsetof(ModuleRecord, magic) == 0);
static_assert(offsetof(ModuleRecord, version) == 4);
static_assert(offsetof(ModuleRecord, hostHandle) == 8);
static_assert(offsetof(ModuleRecord, object) == 12);
static_assert(offsetof(ModuleRecord, reserved16) == 16);
static_assert(offsetof(ModuleRecord, dispatchEntry) == 20);
static_assert(offsetof(ModuleRecord, processEntry) == 24);
static_assert(offsetof(ModuleRecord, eventEntry) == 28);
static_assert(offsetof(ModuleRecord, reserved32) == 32);

// A pin description. The module writes words 0 to 5 as it needs; words it does
// not write keep what the record held.
struct PinProperties {
    void* variableAddress;    // module variable for the pin, or null
    int32_t direction;        // PinDirection; 3 is also in use, host-interpreted
    int32_t datatype;         // PinDatatype
    const char* name;
    const char* defaultValue;  // may be null
    const char* extraText;     // may be null
    uint32_t flags;            // PinFlags
    uint32_t reserved;
};
static_assert(sizeof(PinProperties) == 32);
static_assert(offsetof(PinProperties, variableAddress) == 0);
static_assert(offsetof(PinProperties, direction) == 4);
static_assert(offsetof(PinProperties, datatype) == 8);
static_assert(offsetof(PinProperties, name) == 12);
static_assert(offsetof(PinProperties, defaultValue) == 16);
static_assert(offsetof(PinProperties, extraText) == 20);
static_assert(offsetof(PinProperties, flags) == 24);
static_assert(offsetof(PinProperties, reserved) == 28);

// Built whole for AddEvent; a delivered event is read up to payload.
struct HostEvent {
    int32_t timeStamp;  // sample-clock units
    int32_t type;       // HostEventType
    int32_t value;
    uint32_t extra;
    uint32_t payload;   // pin index or code address, by type
    uint32_t reserved;  // written 0, never read
};
static_assert(sizeof(HostEvent) == 24);
static_assert(offsetof(HostEvent, timeStamp) == 0);
static_assert(offsetof(HostEvent, type) == 4);
static_assert(offsetof(HostEvent, value) == 8);
static_assert(offsetof(HostEvent, extra) == 12);
static_assert(offsetof(HostEvent, payload) == 16);
static_assert(offsetof(HostEvent, reserved) == 20);

struct ProcessRoutineRef {
    ProcessFunction code;
    int32_t thisOffset;
    int32_t auxA;  // compared and copied only
    int32_t auxB;  // compared and copied only
};
static_assert(sizeof(ProcessRoutineRef) == 16);
static_assert(offsetof(ProcessRoutineRef, code) == 0);
static_assert(offsetof(ProcessRoutineRef, thisOffset) == 4);
static_assert(offsetof(ProcessRoutineRef, auxA) == 8);
static_assert(offsetof(ProcessRoutineRef, auxB) == 12);

// Equal when the code words match and either code is null or the other words match too.
constexpr bool operator==(const ProcessRoutineRef& a, const ProcessRoutineRef& b) {
    return a.code == b.code &&
           (a.code == nullptr || (a.thisOffset == b.thisOffset && a.auxA == b.auxA && a.auxB == b.auxB));
}
constexpr bool operator!=(const ProcessRoutineRef& a, const ProcessRoutineRef& b) { return !(a == b); }

// One per library, refilled on every DescribeRoutineRef.
struct RoutineRefDescriptor {
    int32_t count;               // 1
    int32_t size;                // sizeof(ProcessRoutineRef)
    ProcessRoutineRef* address;  // the asking instance's routineRef
    int32_t reserved;            // 0
};
static_assert(sizeof(RoutineRefDescriptor) == 16);
static_assert(offsetof(RoutineRefDescriptor, count) == 0);
static_assert(offsetof(RoutineRefDescriptor, size) == 4);
static_assert(offsetof(RoutineRefDescriptor, address) == 8);
static_assert(offsetof(RoutineRefDescriptor, reserved) == 12);

}  // namespace sem
