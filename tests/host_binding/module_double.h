// A module object with scripted pin descriptions that journals every hook the base calls into.
// The journal lives outside the object so that it survives MOD_CLOSE, which deletes the object.
#ifndef QUORB_TESTS_HOST_BINDING_MODULE_DOUBLE_H
#define QUORB_TESTS_HOST_BINDING_MODULE_DOUBLE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "module_base.h"
#include "stand_in_host.h"

struct Journal {
  std::vector<std::string> hooks;
  std::vector<int32_t> queried; // description indices, in the order the base asked
};

// One journal line: the hook's name and its arguments in call order.
inline std::string hook(const std::string& name, std::vector<int64_t> args = {}) {
  std::string line = name;
  for (int64_t arg : args)
    line += " " + std::to_string(arg);
  return line;
}

class ModuleDouble : public ModuleBase {
public:
  ModuleDouble(HostCallback callback, void* handle, Journal& journal,
               std::vector<PinDescription> descriptions = {})
      : ModuleBase(callback, handle), journal(journal), descriptions(std::move(descriptions)) {}
  ~ModuleDouble() override { journal.hooks.push_back("destroyed"); }

  using ModuleBase::processSlot;
  using ModuleBase::setProcessRoutine;

  bool getPinDescription(int32_t index, PinDescription* out) override {
    journal.queried.push_back(index);
    if (index < 0 || static_cast<size_t>(index) >= descriptions.size()) return false;
    *out = descriptions[static_cast<size_t>(index)];
    return true;
  }
  void onPinStatus(Pin* pin) override {
    journal.hooks.push_back(hook("pin", {pin->index, pin->status}));
  }
  void close() override { journal.hooks.push_back("close"); }
  void onOpcode8() override { journal.hooks.push_back("8"); }
  void onOpcode8Index(int32_t index) override { journal.hooks.push_back(hook("8 index", {index})); }
  void onOpcode12(int32_t value, int32_t index, void* ptr) override {
    journal.hooks.push_back(hook("12", {value, index, reinterpret_cast<intptr_t>(ptr)}));
  }
  void onMidiData(uint32_t firstWord, uint32_t message, uint16_t shortValue) override {
    journal.hooks.push_back(hook("midi", {firstWord, message, shortValue}));
  }

  Journal& journal;
  std::vector<PinDescription> descriptions;
};

inline PinDescription pinOf(PinType type, int32_t flags = 0, void* variable = nullptr) {
  PinDescription description{};
  description.variable = variable;
  description.type = type;
  description.flags = flags;
  return description;
}

// One double at a time, driven like the host drives it. make() closes the previous one; the
// object is heap-allocated because MOD_CLOSE deletes it.
struct HostedDouble : testing::Test {
  StandInHost host;
  Journal journal;
  ModuleDouble* object = nullptr;
  HostedModule module{nullptr};

  void make(std::vector<PinDescription> descriptions = {},
            HostCallback callback = &StandInHost::callback) {
    TearDown();
    journal = Journal{};
    object = new ModuleDouble(callback, &host, journal, std::move(descriptions));
    module = HostedModule(object->hostRecord());
  }
  void TearDown() override {
    if (module.record() != nullptr) module.close();
  }
};

#endif // QUORB_TESTS_HOST_BINDING_MODULE_DOUBLE_H
