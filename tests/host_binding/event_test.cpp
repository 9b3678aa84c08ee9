// Events as the host delivers them: through record->eventHandler with the object as argument.
#include <gtest/gtest.h>

#include <cstdint>

#include "module_double.h"

namespace {

using Hooks = std::vector<std::string>;

ModuleBase* ranWith = nullptr;
void QUORB_CALL noteRun(ModuleBase* object) { ranWith = object; }

// Host count 6, three descriptions, no repeat: entries 3-5 stay unfilled.
struct Events : HostedDouble {
  void SetUp() override {
    host.pinCount = 6;
    make({pinOf(PIN_FLOAT), pinOf(PIN_BOOL), pinOf(PIN_ENUM)});
    ranWith = nullptr;
  }
};

TEST_F(Events, MidiPassesMessageUnsignedAndOnlyTheLow16BitsOfTheShortSlot) {
  module.event(HostEvent{7, EVENT_MIDI, static_cast<int32_t>(0x80FF7F90u), 0x12345, 0});
  EXPECT_EQ((Hooks{hook("midi", {7, 0x80FF7F90, 0x2345})}), journal.hooks);
}

TEST_F(Events, PinStatusIsVisibleToTheHandlerAndOnlyAOneIsCleared) {
  module.open();
  const struct {
    int32_t status;
    int32_t after;
  } cases[] = {{1, 0}, {2, 2}, {0, 0}, {-5, -5}};
  for (const auto& c : cases) {
    journal.hooks.clear();
    module.pinStatus(2, c.status);
    EXPECT_EQ((Hooks{hook("pin", {2, c.status})}), journal.hooks);
    EXPECT_EQ(c.after, object->pinTable()[2].status) << c.status;
  }
}

TEST_F(Events, StatusForAnEntryOutsideTheFilledTableIsIgnored) {
  module.pinStatus(0, 2); // before open: no table yet
  module.open();
  // INTPTR_MIN truncated to 32 bits would name entry 0.
  for (intptr_t index :
       {intptr_t{-1}, intptr_t{3}, intptr_t{5}, intptr_t{6}, INTPTR_MAX, INTPTR_MIN})
    module.pinStatus(index, 2);
  EXPECT_TRUE(journal.hooks.empty());
  for (int32_t i = 0; i < object->pinCount(); ++i)
    EXPECT_EQ(0, object->pinTable()[i].status);
}

TEST_F(Events, RunCallsTheNamedRoutineOnTheObjectWithoutInstallingIt) {
  module.event(HostEvent{0, EVENT_RUN, 0, 0, reinterpret_cast<intptr_t>(&noteRun)});
  EXPECT_EQ(object, ranWith);
  EXPECT_EQ(&idleProcess, module.record()->process);
  ranWith = nullptr;
  module.event(HostEvent{0, EVENT_RUN, 0, 0, 0});
  EXPECT_EQ(nullptr, ranWith);
}

TEST_F(Events, UnknownTypesAndANullEventDoNothing) {
  module.open();
  for (EventType type : {1, 3, 20, 22, -1}) { // each would act if taken for a known type
    module.event(HostEvent{1, type, 1, 1, 0});
    module.event(HostEvent{1, type, 1, 1, reinterpret_cast<intptr_t>(&noteRun)});
  }
  module.record()->eventHandler(module.record()->object, nullptr);
  EXPECT_TRUE(journal.hooks.empty());
  EXPECT_EQ(nullptr, ranWith);
}

} // namespace
