// Host interface of Rackmill module libraries: the plain C records and functions that cross the
// boundary between a host and a module library, byte for byte.
//
// The records keep one field order for every build. In a 32-bit build every field is four bytes
// wide (the 16-bit shortValue of ModuleEvent excepted) and the offsets are those pinned below; in
// a 64-bit build pointers and function pointers are eight bytes, the other fields keep their
// widths, and the records follow natural C alignment.
#ifndef RACKMILL_ABI_H
#define RACKMILL_ABI_H

#include <stddef.h>
#include <stdint.h>

// Calling convention of every function that crosses the boundary: the two exports, the
// dispatcher, process and event entries, and the host callback. On 32-bit Windows they are
// __cdecl (the caller removes the arguments), whatever default a compiler of the host or of a
// module library assumes; everywhere else the platform's one C convention applies.
#if defined(_WIN32) && !defined(_WIN64)
#define RM_CALL __cdecl
#else
#define RM_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The records, declared before the functions that take them (their fields follow below).
typedef struct ModuleDescription ModuleDescription;
typedef struct ModuleRecord ModuleRecord;
typedef struct PinDescription PinDescription;
typedef struct ModuleEvent ModuleEvent;
typedef struct ProcessReference ProcessReference;
typedef struct ProcessDescriptor ProcessDescriptor;

// The host's function, called by a module from inside its own entries (any thread the host
// calls the module on). opt is 0.0 in every request of this system.
typedef intptr_t(RM_CALL* HostCallback)(ModuleRecord* record, int32_t opcode, int32_t index,
                                        int32_t value, void* ptr, float opt);

// Dispatcher entry: the host's requests to an instance (opcodes below). Same form as the callback.
typedef intptr_t(RM_CALL* DispatcherEntry)(ModuleRecord* record, int32_t opcode, int32_t index,
                                           int32_t value, void* ptr, float opt);

// Process entry: renders frames samples at positions [offset, offset + frames) of every buffer.
// Called on the audio thread with the record's object, never overlapping another call.
typedef void(RM_CALL* ProcessEntry)(void* object, int32_t offset, int32_t frames);

// Event entry: delivers one event between process calls, with the record's object.
typedef void(RM_CALL* EventEntry)(void* object, ModuleEvent* event);

// The two exports of a module library, looked up by these plain (undecorated) names.
typedef int32_t(RM_CALL* GetModulePropertiesFn)(int32_t index, ModuleDescription* description);
typedef ModuleRecord*(RM_CALL* MakeModuleFn)(int32_t index, int32_t kind, HostCallback callback,
                                             int32_t hostValue);

struct ModuleDescription {
  const char* id;      // module identifier
  const char* name;    // display name
  const char* credit;  // credit line
  int32_t hostWordA;   // left as the host set it
  int32_t hostWordB;   // left as the host set it
  int32_t flags;       // capability flags
};

struct ModuleRecord {
  uint32_t magic;  // "{PMR" in memory order
  int32_t version;
  int32_t hostValue;  // the host's value from makeModule, never read by the module
  void* object;       // the module object; first argument of the process and event entries
  int32_t reserved0;
  DispatcherEntry dispatcherEntry;
  ProcessEntry processEntry;  // the current process function
  EventEntry eventEntry;
  int32_t reserved1[4];
  float sampleRate;
  int32_t blockSize;
};

struct PinDescription {
  void* variable;  // the module's variable for this pin, or null for the pin's own storage
  int32_t direction;
  int32_t datatype;
  const char* name;
  const char* defaultValue;  // decimal text, or null
  const char* listItems;     // "label=value,..." for list pins, or null
  int32_t flags;
  int32_t reserved;
};

struct ModuleEvent {
  int32_t firstValue;
  int32_t type;
  int32_t intValue;     // type 0: the new pin status
  uint16_t shortValue;  // type 2: a second value
  intptr_t target;      // type 0: pin index; type 17: address of a function taking the object
};

struct ProcessReference {
  void* address;      // a ProcessEntry
  int32_t adjust[3];  // always 0 for the functions of this system
};

struct ProcessDescriptor {
  int32_t one;      // 1
  int32_t size;     // sizeof(ProcessReference)
  void* reference;  // the asking module's stored ProcessReference
  int32_t zero;     // 0
};

// "{PMR" read as a little-endian 32-bit value.
#define RM_MODULE_MAGIC 0x524D507Bu
#define RM_MODULE_VERSION 1
#define RM_MODULE_FLAGS 2240
#define RM_MODULE_KIND 1

// Pin directions.
enum { dirInput = 0, dirOutput = 1, dirSetting = 3 };

// Pin data types.
enum { dtList = 0, dtByte = 4, dtAudio = 5, dtWord32 = 6, dtInteger = 8 };

// Pin status.
enum { pinStatic = 0, pinOneOff = 1, pinStreaming = 2 };

// PinDescription flags.
enum { pinFlagRepeatLast = 8, pinFlagHostOnly = 0x400, pinFlagModuleToo = 0x8000 };

// Event types.
enum { eventPinStatus = 0, eventData = 2, eventRunOperation = 17 };

// Dispatcher opcodes (host to module).
enum {
  opOpen = 0,
  opClose = 1,
  opSetSampleRate = 2,
  opSetBlockSize = 3,
  opDescribePin = 6,
  opResume = 8,
  opHostMessage = 12,
  opProcessDescriptor = 13
};

// Host callback opcodes (module to host).
enum {
  hostOutputStatus = 0,
  hostSampleClock = 3,
  hostPinBuffer = 7,
  hostPinBlockStart = 8,
  hostSleep = 10,
  hostFirstClone = 12,
  hostNextClone = 13,
  hostPinCount = 14,
  hostProcessChanged = 22
};

#ifdef __cplusplus
}  // extern "C"
#endif

// Layout pins: offsets and sizes of every record for 32-bit and 64-bit builds, checked in C++
// and in C from C11 on.
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
#ifdef __cplusplus
#define RM_STATIC_ASSERT static_assert
#else
#define RM_STATIC_ASSERT _Static_assert
#endif
#define RM_PIN_OFFSET(type, field, off32, off64)                                      \
  RM_STATIC_ASSERT(offsetof(type, field) == (sizeof(void*) == 4 ? (off32) : (off64)), \
                   #type "." #field " offset")
#define RM_PIN_SIZE(type, size32, size64) \
  RM_STATIC_ASSERT(sizeof(type) == (sizeof(void*) == 4 ? (size32) : (size64)), #type " size")

RM_STATIC_ASSERT(sizeof(void*) == 4 || sizeof(void*) == 8, "32-bit or 64-bit pointers");
RM_STATIC_ASSERT(sizeof(float) == 4 && sizeof(intptr_t) == sizeof(void*), "float and intptr_t");

RM_PIN_OFFSET(ModuleDescription, id, 0, 0);
RM_PIN_OFFSET(ModuleDescription, name, 4, 8);
RM_PIN_OFFSET(ModuleDescription, credit, 8, 16);
RM_PIN_OFFSET(ModuleDescription, hostWordA, 12, 24);
RM_PIN_OFFSET(ModuleDescription, hostWordB, 16, 28);
RM_PIN_OFFSET(ModuleDescription, flags, 20, 32);
RM_PIN_SIZE(ModuleDescription, 24, 40);

RM_PIN_OFFSET(ModuleRecord, magic, 0, 0);
RM_PIN_OFFSET(ModuleRecord, version, 4, 4);
RM_PIN_OFFSET(ModuleRecord, hostValue, 8, 8);
RM_PIN_OFFSET(ModuleRecord, object, 12, 16);
RM_PIN_OFFSET(ModuleRecord, reserved0, 16, 24);
RM_PIN_OFFSET(ModuleRecord, dispatcherEntry, 20, 32);
RM_PIN_OFFSET(ModuleRecord, processEntry, 24, 40);
RM_PIN_OFFSET(ModuleRecord, eventEntry, 28, 48);
RM_PIN_OFFSET(ModuleRecord, reserved1, 32, 56);
RM_PIN_OFFSET(ModuleRecord, sampleRate, 48, 72);
RM_PIN_OFFSET(ModuleRecord, blockSize, 52, 76);
RM_PIN_SIZE(ModuleRecord, 56, 80);

RM_PIN_OFFSET(PinDescription, variable, 0, 0);
RM_PIN_OFFSET(PinDescription, direction, 4, 8);
RM_PIN_OFFSET(PinDescription, datatype, 8, 12);
RM_PIN_OFFSET(PinDescription, name, 12, 16);
RM_PIN_OFFSET(PinDescription, defaultValue, 16, 24);
RM_PIN_OFFSET(PinDescription, listItems, 20, 32);
RM_PIN_OFFSET(PinDescription, flags, 24, 40);
RM_PIN_OFFSET(PinDescription, reserved, 28, 44);
RM_PIN_SIZE(PinDescription, 32, 48);

RM_PIN_OFFSET(ModuleEvent, firstValue, 0, 0);
RM_PIN_OFFSET(ModuleEvent, type, 4, 4);
RM_PIN_OFFSET(ModuleEvent, intValue, 8, 8);
RM_PIN_OFFSET(ModuleEvent, shortValue, 12, 12);
RM_PIN_OFFSET(ModuleEvent, target, 16, 16);
RM_PIN_SIZE(ModuleEvent, 20, 24);

RM_PIN_OFFSET(ProcessReference, address, 0, 0);
RM_PIN_OFFSET(ProcessReference, adjust, 4, 8);
RM_PIN_SIZE(ProcessReference, 16, 24);

RM_PIN_OFFSET(ProcessDescriptor, one, 0, 0);
RM_PIN_OFFSET(ProcessDescriptor, size, 4, 4);
RM_PIN_OFFSET(ProcessDescriptor, reference, 8, 8);
RM_PIN_OFFSET(ProcessDescriptor, zero, 12, 16);
RM_PIN_SIZE(ProcessDescriptor, 16, 24);

#undef RM_PIN_OFFSET
#undef RM_PIN_SIZE
#undef RM_STATIC_ASSERT
#endif  // C++ or C11

#endif  // RACKMILL_ABI_H
