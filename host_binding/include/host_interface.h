// The whole boundary between the host and a module library: every record the host reads or
// writes, every opcode, every function-pointer type. Nothing else in the project redefines a
// boundary type.
//
// Layout: on 32-bit targets every record has the exact 32-bit layout the host expects (one
// 32-bit word per integer, one per address, little-endian, natural alignment, no packing). On
// 64-bit targets the records keep natural C layout with addresses at pointer width, so that a
// 64-bit test host and the module agree. The static_asserts at the end pin both columns.
//
// Calling convention: every function that crosses the boundary is a plain C function in the
// platform's default C convention (cdecl on 32-bit Windows); QUORB_CALL makes that explicit.
#ifndef QUORB_SDK_HOST_INTERFACE_H
#define QUORB_SDK_HOST_INTERFACE_H

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define QUORB_CALL __cdecl
#else
#define QUORB_CALL
#endif

class ModuleBase;

extern "C" {

struct ModuleRecord;

// ---------------------------------------------------------------------------------------------
// Host callback: the module's only way to ask the host for anything.
// Passed to makeModule and kept for the object's whole life; may be null, in which case the
// module skips every request and takes its result as 0. Called only from within the host's own
// calls into the module, on the thread that made them. `opt` is always 0.0 from this library.
typedef int32_t(QUORB_CALL* HostCallback)(ModuleRecord* record, int32_t opcode, int32_t index,
                                          int32_t value, void* ptr, float opt);

// Opcodes the module sends through HostCallback. Arguments a row does not name are 0 / null.
typedef int32_t HostOp;
enum : int32_t {
  HOST_GET_CLOCK = 3,      // -> current clock reading; only differences (mod 2^32) are used
  HOST_GET_PIN_VALUE = 7,  // index: pin index -> 32-bit initial value of a PIN_TYPE_5 pin
  HOST_NOTIFY_OPEN = 10,   // result ignored
  HOST_GET_PIN_COUNT = 14, // -> number of pins the host holds for the object; <= 0 means none
  // index: text pin, value: capacity in bytes, ptr: buffer. The host writes the resolved path
  // as an 8-bit string of at most `value` bytes; a careless host may leave it unterminated.
  HOST_RESOLVE_FILENAME = 16,
  HOST_PROCESS_CHANGED = 22, // ModuleRecord.process holds another routine; result ignored
};

// ---------------------------------------------------------------------------------------------
// Entry points reached through ModuleRecord.

// Dispatcher: the host's opcodes (ModuleOp). Pointer-width result because MOD_GET_PROCESS_SLOT
// answers with an address; on 32-bit targets this is the host's int32.
typedef intptr_t(QUORB_CALL* ModuleDispatcher)(ModuleRecord* record, int32_t opcode, int32_t index,
                                               int32_t value, void* ptr, float opt);

struct HostEvent;
// Event entry. Its first argument is the module object itself (ModuleRecord.object), not the
// record.
typedef void(QUORB_CALL* ModuleEventHandler)(ModuleBase* object, HostEvent* event);

// Process routine, called by the host once per audio block with the module object as its first
// argument. The host may pass further arguments; routines of this library read none of them,
// which is safe because the caller cleans the stack in the C convention. Also the shape of the
// routines an EVENT_RUN event names.
typedef void(QUORB_CALL* ProcessRoutine)(ModuleBase* object);

// ---------------------------------------------------------------------------------------------
// ModuleRecord: the host-visible record embedded in every module object; its address is the
// object's handle. Owned by the module object; valid from makeModule until MOD_CLOSE returns.
// Zero-filled at construction before the named words are set.
enum : int32_t {
  MODULE_RECORD_MAGIC = 0x5345504C, // bytes 4C 50 45 53 in memory
  MODULE_RECORD_VERSION = 1,
};

struct ModuleRecord {
  int32_t magic;
  int32_t version;
  void* hostHandle;   // the host's own value, the last argument of makeModule
  ModuleBase* object; // the module object this record is embedded in
  int32_t reserved0;
  ModuleDispatcher dispatcher;
  ProcessRoutine process; // always equal to the routine word of the object's ProcessSlot
  ModuleEventHandler eventHandler;
  int32_t reserved1[4];
};

// The current process routine with its three adjustment words (this library stores 0, 0, 0).
struct ProcessSlot {
  ProcessRoutine routine;
  int32_t adjust[3];
};

// Reply of MOD_GET_PROCESS_SLOT: {1, 16, address of the object's ProcessSlot, 0}. One static
// record is shared by every module object of the library; each request overwrites it.
enum : int32_t { PROCESS_SLOT_REPLY_KIND = 1, PROCESS_SLOT_REPLY_SIZE = 16 };
struct ProcessSlotReply {
  int32_t kind;
  int32_t size;
  ProcessSlot* slot;
  int32_t reserved;
};

// ---------------------------------------------------------------------------------------------
// ModuleOp: the dispatcher's opcodes. Any other code is ignored with result 0.
typedef int32_t ModuleOp;
enum : int32_t {
  MOD_OPEN = 0,                // -> 0; builds the pin table
  MOD_CLOSE = 1,               // -> 1; the object is destroyed, the record dead afterwards
  MOD_SET_SAMPLE_RATE = 2,     // opt: rate -> 0
  MOD_SET_BLOCK_SIZE = 3,      // value: size -> 0
  MOD_GET_PIN_DESCRIPTION = 6, // index, ptr: PinDescription* -> 1 if described, else 0
  MOD_HOOK_8 = 8,              // -> 0
  MOD_HOOK_12 = 12,            // -> 0
  MOD_GET_PROCESS_SLOT = 13,   // -> address of the shared ProcessSlotReply
};

// ---------------------------------------------------------------------------------------------
// HostEvent: owned by the host, read only, valid for the duration of the event call.
typedef int32_t EventType;
enum : int32_t {
  EVENT_PIN_STATUS = 0, // intValue: new status, pointerValue: pin index
  EVENT_MIDI = 2,       // firstWord, intValue: message word, shortValue: low 16 bits read
  EVENT_RUN = 21,       // pointerValue: a ProcessRoutine to run on this object (null ignored)
};

struct HostEvent {
  uint32_t firstWord;
  EventType type;
  int32_t intValue;
  uint32_t shortValue; // a 16-bit value in a 32-bit slot: only the low 16 bits count
  intptr_t pointerValue;
};

// ---------------------------------------------------------------------------------------------
// Pins.
typedef int32_t PinDirection;
enum : int32_t {
  PIN_IN = 0,
  PIN_DIRECTION_3 = 3, // its meaning belongs to the host
};

typedef int32_t PinType;
enum : int32_t {
  PIN_ENUM = 0,   // local value: int16 0
  PIN_TEXT = 1,   // no local value
  PIN_MIDI = 2,   // no local value
  PIN_TYPE_3 = 3, // no local value
  PIN_BOOL = 4,   // local value: 8-bit 0
  PIN_TYPE_5 = 5, // local value: HOST_GET_PIN_VALUE with the pin's index
  PIN_FLOAT = 6,  // local value: float 0.0
  PIN_TYPE_7 = 7, // no local value
  PIN_TYPE_8 = 8, // local value: int32 0
};

typedef int32_t PinFlag;
enum : int32_t {
  PIN_FLAG_REPEAT = 0x8,    // the last description repeats to fill the host's remaining pins
  PIN_FLAG_FILENAME = 0x10, // a text pin naming a file; `extra` holds the extension
  PIN_FLAG_SKIP = 0x400,    // takes no pin-table entry, unless PIN_FLAG_KEEP is set too
  PIN_FLAG_KEEP = 0x8000,
};

// PinDescription: owned by whoever asks (the host, or the base's own pin-table build). A module
// fills only the fields it uses and leaves the rest as the asker put them.
struct PinDescription {
  void* variable; // the module's variable the host keeps up to date; null for none
  PinDirection direction;
  PinType type;
  const char* name;
  const char* defaultValue;
  const char* extra;
  int32_t flags;
  int32_t reserved;
};

// ---------------------------------------------------------------------------------------------
// ModuleInfo: owned by the host and passed to getModuleProperties. The module writes name, id,
// about and interfaceVersion only; the two words between are left as the host set them (int32
// on every target, so 32- and 64-bit hosts agree). The texts it points at are static and live
// as long as the library.
enum : int32_t { MODULE_INTERFACE_VERSION = 2230 };

struct ModuleInfo {
  const char* name;
  const char* id;
  const char* about;
  int32_t reserved12;
  int32_t reserved16;
  int32_t interfaceVersion;
};

// The two functions a module library exports, under these unadorned names.
typedef int32_t(QUORB_CALL* GetModulePropertiesFn)(int32_t index, ModuleInfo* info);
typedef ModuleRecord*(QUORB_CALL* MakeModuleFn)(int32_t index, int32_t kind, HostCallback callback,
                                                void* hostHandle);

} // extern "C"

// ---------------------------------------------------------------------------------------------
// Layout pins. 32-bit column: the host's layout. 64-bit column: natural layout.
#define QUORB_LAYOUT(type, field, off32, off64)                                                    \
  static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (off32) : (off64)),                 \
                #type "." #field " is not where the host expects it")
#define QUORB_SIZE(type, size32, size64)                                                           \
  static_assert(sizeof(type) == (sizeof(void*) == 4 ? (size32) : (size64)),                        \
                "sizeof(" #type ") is not what the host expects")

static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "32- or 64-bit targets only");
static_assert(sizeof(float) == 4, "the host passes 32-bit floats");

QUORB_SIZE(ModuleRecord, 48, 72);
QUORB_LAYOUT(ModuleRecord, magic, 0, 0);
QUORB_LAYOUT(ModuleRecord, version, 4, 4);
QUORB_LAYOUT(ModuleRecord, hostHandle, 8, 8);
QUORB_LAYOUT(ModuleRecord, object, 12, 16);
QUORB_LAYOUT(ModuleRecord, reserved0, 16, 24);
QUORB_LAYOUT(ModuleRecord, dispatcher, 20, 32);
QUORB_LAYOUT(ModuleRecord, process, 24, 40);
QUORB_LAYOUT(ModuleRecord, eventHandler, 28, 48);
QUORB_LAYOUT(ModuleRecord, reserved1, 32, 56);

QUORB_SIZE(ProcessSlot, 16, 24);
QUORB_LAYOUT(ProcessSlot, routine, 0, 0);
QUORB_LAYOUT(ProcessSlot, adjust, 4, 8);

QUORB_SIZE(ProcessSlotReply, 16, 24);
QUORB_LAYOUT(ProcessSlotReply, kind, 0, 0);
QUORB_LAYOUT(ProcessSlotReply, size, 4, 4);
QUORB_LAYOUT(ProcessSlotReply, slot, 8, 8);
QUORB_LAYOUT(ProcessSlotReply, reserved, 12, 16);

QUORB_SIZE(HostEvent, 20, 24);
QUORB_LAYOUT(HostEvent, firstWord, 0, 0);
QUORB_LAYOUT(HostEvent, type, 4, 4);
QUORB_LAYOUT(HostEvent, intValue, 8, 8);
QUORB_LAYOUT(HostEvent, shortValue, 12, 12);
QUORB_LAYOUT(HostEvent, pointerValue, 16, 16);

QUORB_SIZE(PinDescription, 32, 48);
QUORB_LAYOUT(PinDescription, variable, 0, 0);
QUORB_LAYOUT(PinDescription, direction, 4, 8);
QUORB_LAYOUT(PinDescription, type, 8, 12);
QUORB_LAYOUT(PinDescription, name, 12, 16);
QUORB_LAYOUT(PinDescription, defaultValue, 16, 24);
QUORB_LAYOUT(PinDescription, extra, 20, 32);
QUORB_LAYOUT(PinDescription, flags, 24, 40);
QUORB_LAYOUT(PinDescription, reserved, 28, 44);

QUORB_SIZE(ModuleInfo, 24, 40);
QUORB_LAYOUT(ModuleInfo, name, 0, 0);
QUORB_LAYOUT(ModuleInfo, id, 4, 8);
QUORB_LAYOUT(ModuleInfo, about, 8, 16);
QUORB_LAYOUT(ModuleInfo, reserved12, 12, 24);
QUORB_LAYOUT(ModuleInfo, reserved16, 16, 28);
QUORB_LAYOUT(ModuleInfo, interfaceVersion, 20, 32);

#undef QUORB_LAYOUT
#undef QUORB_SIZE

#endif // QUORB_SDK_HOST_INTERFACE_H
