#ifndef QUORB_SDK_MODULE_BASE_H
#define QUORB_SDK_MODULE_BASE_H

#include <cstdint>

#include "host_interface.h"
#include "pin.h"

// Base class of every module object the library creates. Owns the host-visible ModuleRecord, the
// host callback, the pin table and the current process routine, and turns the host's dispatcher
// opcodes and events into calls of the virtual operations below.
//
// Threading: no locks, no threads. The host calls into one object from one thread at a time.
// Lifetime: created by makeModule, destroyed only by MOD_CLOSE through the dispatcher.
class ModuleBase {
public:
  ModuleBase(HostCallback callback, void* hostHandle) noexcept;
  virtual ~ModuleBase();
  ModuleBase(const ModuleBase&) = delete;
  ModuleBase& operator=(const ModuleBase&) = delete;

  // Virtual operations, in the host's slot order, with the base behaviour in the comments.
  virtual void onPinStatus(Pin* pin);         // nothing
  virtual void handleEvent(HostEvent* event); // event routing
  virtual intptr_t dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr,
                            float opt);         // the ModuleOp table
  virtual void open();                          // builds the pin table
  virtual void close();                         // nothing
  virtual void reservedHook6(int32_t, int32_t); // never called
  virtual void setSampleRate(float rate);
  virtual void setBlockSize(int32_t size);
  virtual float getSampleRate();
  virtual int32_t getBlockSize();
  // Fills only the fields the pin uses; must leave `out` untouched for an index it does not
  // describe (-1 included) and return false.
  virtual bool getPinDescription(int32_t index, PinDescription* out);                 // false
  virtual bool reservedQuery12(void*);                                                // false
  virtual bool reservedQuery13(void*);                                                // false
  virtual void onOpcode8();                                                           // nothing
  virtual void onOpcode8Index(int32_t index);                                         // nothing
  virtual void onMidiData(uint32_t firstWord, uint32_t message, uint16_t shortValue); // nothing
  virtual void onOpcode12(int32_t value, int32_t index, void* ptr);                   // nothing

  // The object's handle for the host.
  ModuleRecord* hostRecord() noexcept { return &record; }

  int32_t pinCount() const noexcept { return pinTableSize; }
  Pin* pinTable() noexcept { return pins; }

  // Largest pin table the base builds. A host count above it is treated like a failed
  // allocation: building and constructing billions of entries would take the host down.
  static constexpr int32_t MAX_PIN_TABLE = 65536;

protected:
  // Calls the host callback with this object's record; 0 when there is no callback. Inline: the
  // recorder asks for the clock once per message.
  int32_t callHost(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                   float opt = 0.0f) {
    if (callback == nullptr) return 0;
    return callback(&record, opcode, index, value, ptr, opt);
  }

  // Installs a process routine and tells the host (HOST_PROCESS_CHANGED) when it really changed.
  void setProcessRoutine(ProcessRoutine routine, int32_t adjust1, int32_t adjust2, int32_t adjust3);

  HostCallback callback;
  ModuleRecord record;
  float sampleRate = 44100.0f;
  int32_t blockSize = 1024;
  Pin* pins = nullptr;      // null until open builds the table
  int32_t pinTableSize = 0; // entries in `pins`
  ProcessSlot processSlot;

private:
  void buildPinTable();
  void freePinTable() noexcept;
  void initPin(Pin& entry, const PinDescription& description, int32_t index);
  void initLocalValue(Pin& entry);
};

extern "C" {
// The routine every object runs until its module installs another; does nothing.
void QUORB_CALL idleProcess(ModuleBase* object);
}

// The reply record of MOD_GET_PROCESS_SLOT, shared by every object of the library.
const ProcessSlotReply& processSlotReply() noexcept;

#endif // QUORB_SDK_MODULE_BASE_H
