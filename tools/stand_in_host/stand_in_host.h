#ifndef QUORB_TOOLS_STAND_IN_HOST_STAND_IN_HOST_H
#define QUORB_TOOLS_STAND_IN_HOST_STAND_IN_HOST_H

// The host's side of the boundary: StandInHost answers the module's callback (clock, pin count,
// pin values, resolved path) from its public fields and can journal every call; HostedModule
// drives one module object through its ModuleRecord only, the way the host does. The tests set
// the fields by hand; quorb-host's Playback (playback.h) sets them from a MIDI file.

#include <cstdint>
#include <string>
#include <vector>

#include "host_interface.h"
#include "recorder_contract.h"

struct HostCall {
  ModuleRecord* record;
  int32_t opcode;
  int32_t index;
  int32_t value;
  void* ptr;
  float opt;
};

class StandInHost {
public:
  // The callback handed to makeModule; finds its StandInHost through record->hostHandle.
  static int32_t QUORB_CALL callback(ModuleRecord* record, int32_t opcode, int32_t index,
                                     int32_t value, void* ptr, float opt);

  // What the host answers.
  uint32_t clock = 0;
  int32_t pinCount = 4;
  std::string resolvedPath;       // what HOST_RESOLVE_FILENAME writes
  bool terminatePath = true;      // false: fill the whole buffer and leave out the NUL
  std::vector<int32_t> pinValues; // HOST_GET_PIN_VALUE answers by index (0 past the end)

  // What the module asked. A long playback asks for the clock once per message, so a
  // journal that grows with it can be switched off.
  bool journal = true;
  std::vector<HostCall> calls;
  size_t count(int32_t opcode) const;
  std::vector<HostCall> callsOf(int32_t opcode) const;
};

// One module object as the host sees it: its record and nothing else.
class HostedModule {
public:
  explicit HostedModule(ModuleRecord* record) : record_(record) {}

  ModuleRecord* record() const { return record_; }
  intptr_t dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                    float opt = 0.0f);
  void open() { dispatch(MOD_OPEN); }
  intptr_t close(); // destroys the object; the record is dead afterwards
  // Inline, as a host's own event loop delivers: the benchmarks time the module, not this class.
  void event(HostEvent event) { record_->eventHandler(record_->object, &event); }
  void pinStatus(intptr_t pin, int32_t status) {
    event(HostEvent{0, EVENT_PIN_STATUS, status, 0, pin});
  }
  void midi(uint32_t message, uint32_t firstWord = 0, uint32_t shortValue = 0) {
    event(HostEvent{firstWord, EVENT_MIDI, static_cast<int32_t>(message), shortValue, 0});
  }
  // One audio block: the current process routine.
  void block() { record_->process(record_->object); }

  // Pin variables, reached through the descriptions the module hands out, as the host does.
  PinDescription describe(int32_t index);
  // Writes `value` at the width the pin's type gives its variable (16 bits for PIN_ENUM, 8 for
  // PIN_BOOL, 32 for the integer types, float32 for PIN_FLOAT). False, writing nothing, when the
  // pin has no variable or its type holds no number.
  bool writePin(int32_t index, int32_t value);
  // At a width the caller chooses, whatever the pin's type: for tests that mean it.
  template <typename T> void setPin(int32_t index, T value) {
    *static_cast<T*>(describe(index).variable) = value;
  }

private:
  ModuleRecord* record_;
};

#endif // QUORB_TOOLS_STAND_IN_HOST_STAND_IN_HOST_H
