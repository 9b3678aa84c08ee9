#include "stand_in_host.h"

#include <algorithm>
#include <cstring>

int32_t QUORB_CALL StandInHost::callback(ModuleRecord* record, int32_t opcode, int32_t index,
                                         int32_t value, void* ptr, float opt) {
  auto* host = static_cast<StandInHost*>(record->hostHandle);
  if (host->journal) host->calls.push_back({record, opcode, index, value, ptr, opt});
  switch (opcode) {
  case HOST_GET_CLOCK:
    return static_cast<int32_t>(host->clock);
  case HOST_GET_PIN_COUNT:
    return host->pinCount;
  case HOST_GET_PIN_VALUE:
    return index >= 0 && static_cast<size_t>(index) < host->pinValues.size()
               ? host->pinValues[static_cast<size_t>(index)]
               : 0;
  case HOST_RESOLVE_FILENAME: {
    if (ptr == nullptr || value <= 0) return 0;
    auto* buffer = static_cast<char*>(ptr);
    const size_t capacity = static_cast<size_t>(value);
    if (host->terminatePath) {
      const size_t n = std::min(host->resolvedPath.size(), capacity - 1);
      std::memcpy(buffer, host->resolvedPath.data(), n);
      buffer[n] = '\0';
    } else {
      // A careless host: every byte filled, no terminator anywhere.
      for (size_t i = 0; i < capacity; ++i)
        buffer[i] =
            host->resolvedPath.empty() ? 'x' : host->resolvedPath[i % host->resolvedPath.size()];
    }
    return 1;
  }
  default:
    return 0;
  }
}

size_t StandInHost::count(int32_t opcode) const {
  return static_cast<size_t>(std::count_if(calls.begin(), calls.end(),
                                           [&](const HostCall& c) { return c.opcode == opcode; }));
}

std::vector<HostCall> StandInHost::callsOf(int32_t opcode) const {
  std::vector<HostCall> out;
  for (const HostCall& c : calls)
    if (c.opcode == opcode) out.push_back(c);
  return out;
}

intptr_t HostedModule::dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr,
                                float opt) {
  return record_->dispatcher(record_, opcode, index, value, ptr, opt);
}

intptr_t HostedModule::close() {
  const intptr_t result = dispatch(MOD_CLOSE);
  record_ = nullptr;
  return result;
}

PinDescription HostedModule::describe(int32_t index) {
  PinDescription description;
  std::memset(&description, 0, sizeof description);
  dispatch(MOD_GET_PIN_DESCRIPTION, index, 0, &description);
  return description;
}

bool HostedModule::writePin(int32_t index, int32_t value) {
  const PinDescription description = describe(index);
  void* variable = description.variable;
  if (variable == nullptr) return false;
  switch (description.type) {
  case PIN_ENUM:
    *static_cast<int16_t*>(variable) = static_cast<int16_t>(value);
    return true;
  case PIN_BOOL:
    *static_cast<uint8_t*>(variable) = value != 0 ? 1 : 0;
    return true;
  case PIN_TYPE_5:
  case PIN_TYPE_8:
    *static_cast<int32_t*>(variable) = value;
    return true;
  case PIN_FLOAT:
    *static_cast<float*>(variable) = static_cast<float>(value);
    return true;
  default:
    return false;
  }
}
