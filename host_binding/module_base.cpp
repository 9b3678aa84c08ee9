#include "module_base.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace {

// Overwritten by every MOD_GET_PROCESS_SLOT, whichever object asks; the host reads it before its
// next call into the library.
ProcessSlotReply sharedSlotReply{};

bool isSkipped(const PinDescription& description) {
  return (description.flags & PIN_FLAG_SKIP) != 0 && (description.flags & PIN_FLAG_KEEP) == 0;
}

} // namespace

// The host's entries into every object. Nothing may escape them: an exception becomes the
// neutral result.
extern "C" {
static intptr_t QUORB_CALL dispatcherEntry(ModuleRecord* rec, int32_t opcode, int32_t index,
                                           int32_t value, void* ptr, float opt) {
  if (rec == nullptr || rec->object == nullptr) return 0;
  try {
    return rec->object->dispatch(opcode, index, value, ptr, opt);
  } catch (...) {
    return 0;
  }
}

static void QUORB_CALL eventEntry(ModuleBase* object, HostEvent* event) {
  if (object == nullptr) return;
  try {
    object->handleEvent(event);
  } catch (...) {
  }
}

void QUORB_CALL idleProcess(ModuleBase*) {}
} // extern "C"

const ProcessSlotReply& processSlotReply() noexcept { return sharedSlotReply; }

ModuleBase::ModuleBase(HostCallback hostCallback, void* hostHandle) noexcept
    : callback(hostCallback) {
  std::memset(&record, 0, sizeof record);
  processSlot.routine = &idleProcess;
  processSlot.adjust[0] = processSlot.adjust[1] = processSlot.adjust[2] = 0;
  record.magic = MODULE_RECORD_MAGIC;
  record.version = MODULE_RECORD_VERSION;
  record.hostHandle = hostHandle;
  record.object = this;
  record.dispatcher = &dispatcherEntry;
  record.process = processSlot.routine;
  record.eventHandler = &eventEntry;
}

ModuleBase::~ModuleBase() { freePinTable(); }

void ModuleBase::onPinStatus(Pin*) {}
void ModuleBase::close() {}
void ModuleBase::reservedHook6(int32_t, int32_t) {}
void ModuleBase::setSampleRate(float rate) { sampleRate = rate; }
void ModuleBase::setBlockSize(int32_t size) { blockSize = size; }
float ModuleBase::getSampleRate() { return sampleRate; }
int32_t ModuleBase::getBlockSize() { return blockSize; }
bool ModuleBase::getPinDescription(int32_t, PinDescription*) { return false; }
bool ModuleBase::reservedQuery12(void*) { return false; }
bool ModuleBase::reservedQuery13(void*) { return false; }
void ModuleBase::onOpcode8() {}
void ModuleBase::onOpcode8Index(int32_t) {}
void ModuleBase::onMidiData(uint32_t, uint32_t, uint16_t) {}
void ModuleBase::onOpcode12(int32_t, int32_t, void*) {}

void ModuleBase::setProcessRoutine(ProcessRoutine routine, int32_t adjust1, int32_t adjust2,
                                   int32_t adjust3) {
  if (routine == processSlot.routine) {
    if (routine == nullptr) return;
    if (adjust1 == processSlot.adjust[0] && adjust2 == processSlot.adjust[1] &&
        adjust3 == processSlot.adjust[2])
      return;
  }
  processSlot.routine = routine;
  processSlot.adjust[0] = adjust1;
  processSlot.adjust[1] = adjust2;
  processSlot.adjust[2] = adjust3;
  record.process = routine;
  callHost(HOST_PROCESS_CHANGED);
}

intptr_t ModuleBase::dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  switch (opcode) {
  case MOD_OPEN:
    open();
    return 0;
  case MOD_CLOSE:
    close();
    delete this; // nothing of this object may be touched from here on
    return 1;
  case MOD_SET_SAMPLE_RATE:
    setSampleRate(opt);
    return 0;
  case MOD_SET_BLOCK_SIZE:
    setBlockSize(value);
    return 0;
  case MOD_GET_PIN_DESCRIPTION:
    if (ptr == nullptr) return 0;
    return getPinDescription(index, static_cast<PinDescription*>(ptr)) ? 1 : 0;
  case MOD_HOOK_8:
    onOpcode8();
    if (index > 0) onOpcode8Index(index);
    return 0;
  case MOD_HOOK_12:
    onOpcode12(value, index, ptr);
    return 0;
  case MOD_GET_PROCESS_SLOT:
    sharedSlotReply.kind = PROCESS_SLOT_REPLY_KIND;
    sharedSlotReply.size = PROCESS_SLOT_REPLY_SIZE;
    sharedSlotReply.slot = &processSlot;
    sharedSlotReply.reserved = 0;
    return reinterpret_cast<intptr_t>(&sharedSlotReply);
  default:
    return 0;
  }
}

void ModuleBase::handleEvent(HostEvent* event) {
  if (event == nullptr) return;
  switch (event->type) {
  case EVENT_PIN_STATUS: {
    // The host may name only entries the build filled; anything else is ignored rather than
    // read or written outside the table.
    const intptr_t index = event->pointerValue;
    if (pins == nullptr || index < 0 || index >= pinTableSize) return;
    Pin& pin = pins[index];
    if (!pin.filled()) return;
    const int32_t status = event->intValue;
    pin.status = status;
    pin.module->onPinStatus(&pin);
    // A 1 is an edge, not a level: the handler sees it once.
    if (status == 1) pin.status = 0;
    return;
  }
  case EVENT_MIDI:
    onMidiData(event->firstWord, static_cast<uint32_t>(event->intValue),
               static_cast<uint16_t>(event->shortValue & 0xFFFFu));
    return;
  case EVENT_RUN: {
    auto routine = reinterpret_cast<ProcessRoutine>(event->pointerValue);
    if (routine != nullptr) routine(this);
    return;
  }
  default:
    return;
  }
}

void ModuleBase::open() {
  // A repeated MOD_OPEN rebuilds the table instead of leaking the old one.
  freePinTable();
  buildPinTable();
}

void ModuleBase::freePinTable() noexcept {
  delete[] pins;
  pins = nullptr;
  pinTableSize = 0;
}

void ModuleBase::initLocalValue(Pin& entry) {
  entry.localValue.intValue = 0;
  switch (entry.type) {
  case PIN_ENUM:
    entry.localValue.enumValue = 0;
    entry.variable = &entry.localValue.enumValue;
    break;
  case PIN_BOOL:
    entry.localValue.boolValue = 0;
    entry.variable = &entry.localValue.boolValue;
    break;
  case PIN_TYPE_5:
    entry.localValue.intValue = callHost(HOST_GET_PIN_VALUE, entry.index);
    entry.variable = &entry.localValue.intValue;
    break;
  case PIN_FLOAT:
    entry.localValue.floatValue = 0.0f;
    entry.variable = &entry.localValue.floatValue;
    break;
  case PIN_TYPE_8:
    entry.localValue.intValue = 0;
    entry.variable = &entry.localValue.intValue;
    break;
  default:
    entry.variable = nullptr;
    break;
  }
}

void ModuleBase::initPin(Pin& entry, const PinDescription& description, int32_t index) {
  entry.module = this;
  entry.index = index;
  entry.type = description.type;
  entry.status = 0;
  if (description.variable != nullptr) {
    entry.variable = description.variable;
    entry.localValue.intValue = 0;
  } else {
    initLocalValue(entry);
  }
}

void ModuleBase::buildPinTable() {
  const int32_t count = callHost(HOST_GET_PIN_COUNT);
  if (count > 0 && count <= MAX_PIN_TABLE) {
    pins = new (std::nothrow) Pin[static_cast<size_t>(count)];
    if (pins != nullptr) pinTableSize = count;
  }
  // With no table the descriptions are still queried, as the host may watch for that, but
  // nothing is filled.
  int32_t filled = 0;
  int32_t n = 0;
  PinDescription description;
  std::memset(&description, 0, sizeof description);
  if (getPinDescription(0, &description)) {
    for (;;) {
      if (filled >= pinTableSize) break;
      if (!isSkipped(description)) {
        initPin(pins[filled], description, filled);
        ++filled;
      }
      std::memset(&description, 0, sizeof description);
      ++n;
      if (!getPinDescription(n, &description)) break;
    }
  }

  // The last description decides whether it repeats over the rest of the table. Its result is
  // not looked at: a module leaves the record zeroed for indices it does not know.
  std::memset(&description, 0, sizeof description);
  getPinDescription(n - 1, &description);
  if (isSkipped(description) || (description.flags & PIN_FLAG_REPEAT) == 0) return;
  description.variable = nullptr; // a repeated pin never shares the module's variable
  for (; filled < pinTableSize; ++filled)
    initPin(pins[filled], description, filled);
}
