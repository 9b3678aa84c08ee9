#ifndef QUORB_SDK_PIN_H
#define QUORB_SDK_PIN_H

#include <cstdint>

#include "host_interface.h"

// One entry of a module object's pin table: which module to notify about the pin, the pin's
// latest status, and a small local value for pins whose description gives no module variable.
// Owned by the table, which the module object owns; lives from the build at open to the
// object's destruction.
class Pin {
public:
  Pin() noexcept = default;
  virtual ~Pin() = default; // releases nothing: the variable is never owned
  Pin(const Pin&) = delete;
  Pin& operator=(const Pin&) = delete;

  // An entry that no description and no repeat filled holds no valid pin.
  bool filled() const noexcept { return module != nullptr; }

  // The pin's value: the module's own variable, this entry's localValue, or null.
  void* variable = nullptr;
  ModuleBase* module = nullptr;
  int32_t index = 0;
  int32_t status = 0; // latest EVENT_PIN_STATUS value; a 1 is cleared once it has been handled
  PinType type = 0;
  union LocalValue {
    int16_t enumValue; // PIN_ENUM
    uint8_t boolValue; // PIN_BOOL
    int32_t intValue;  // PIN_TYPE_5, PIN_TYPE_8, and the zero of pins with a module variable
    float floatValue;  // PIN_FLOAT
  } localValue{};
};

#endif // QUORB_SDK_PIN_H
