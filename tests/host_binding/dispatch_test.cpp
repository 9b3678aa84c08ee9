// The dispatcher as the host reaches it through the record: results, hook routing, the shared
// process-slot reply, and when the host hears about a new process routine.
#include <gtest/gtest.h>

#include "module_double.h"

namespace {

using Hooks = std::vector<std::string>;
using Dispatch = HostedDouble;

void QUORB_CALL otherRoutine(ModuleBase*) {}

TEST_F(Dispatch, OpenAnswersZeroAndCloseRunsCloseBeforeDestroying) {
  make();
  EXPECT_EQ(0, module.dispatch(MOD_OPEN));
  EXPECT_EQ(1, module.close());
  EXPECT_EQ((Hooks{"close", "destroyed"}), journal.hooks);
}

TEST_F(Dispatch, SampleRateComesFromOptAndBlockSizeFromValue) {
  make();
  EXPECT_EQ(44100.0f, object->getSampleRate());
  EXPECT_EQ(1024, object->getBlockSize());
  EXPECT_EQ(0, module.dispatch(MOD_SET_SAMPLE_RATE, 5, 6, nullptr, 48000.0f));
  EXPECT_EQ(0, module.dispatch(MOD_SET_BLOCK_SIZE, 5, 256, nullptr, 7.0f));
  EXPECT_EQ(48000.0f, object->getSampleRate());
  EXPECT_EQ(256, object->getBlockSize());
}

TEST_F(Dispatch, PinDescriptionAnswersOneOnlyForADescribedIndex) {
  float level = 0.0f;
  make({pinOf(PIN_FLOAT, 0, &level)});
  PinDescription out = pinOf(PIN_MIDI);
  EXPECT_EQ(1, module.dispatch(MOD_GET_PIN_DESCRIPTION, 0, 0, &out));
  EXPECT_EQ(&level, out.variable);
  EXPECT_EQ(PIN_FLOAT, out.type);
  EXPECT_EQ(0, module.dispatch(MOD_GET_PIN_DESCRIPTION, 1, 0, &out));
  EXPECT_EQ(0, module.dispatch(MOD_GET_PIN_DESCRIPTION, 0, 0, nullptr));
  EXPECT_EQ((std::vector<int32_t>{0, 1}), journal.queried); // a null record never reaches it
}

TEST_F(Dispatch, HooksGetTheirArgumentsAndOnlyAPositiveIndexReachesTheIndexHook) {
  int cookie = 0;
  const struct {
    int32_t opcode, index, value;
    Hooks hooks;
  } cases[] = {
      {MOD_HOOK_8, 0, 9, {"8"}},
      {MOD_HOOK_8, -3, 9, {"8"}},
      {MOD_HOOK_8, 5, 9, {"8", "8 index 5"}},
      {MOD_HOOK_12, 3, 4, {hook("12", {4, 3, reinterpret_cast<intptr_t>(&cookie)})}},
  };
  for (const auto& c : cases) {
    make();
    EXPECT_EQ(0, module.dispatch(c.opcode, c.index, c.value, &cookie));
    EXPECT_EQ(c.hooks, journal.hooks) << c.opcode << " index " << c.index;
  }
}

TEST_F(Dispatch, UnknownOpcodesAnswerZeroAndTouchNothing) {
  for (int32_t opcode : {4, 5, 7, 9, 10, 11, 14, 99, -1}) {
    make({pinOf(PIN_FLOAT)});
    PinDescription out{};
    EXPECT_EQ(0, module.dispatch(opcode, 1, 2, &out, 3.0f)) << opcode;
    EXPECT_TRUE(journal.hooks.empty() && journal.queried.empty() && host.calls.empty()) << opcode;
    EXPECT_EQ(nullptr, object->pinTable()) << opcode;
    EXPECT_EQ(44100.0f, object->getSampleRate()) << opcode;
    EXPECT_EQ(1024, object->getBlockSize()) << opcode;
  }
}

TEST_F(Dispatch, OneSharedProcessSlotReplyNamesTheSlotOfTheLatestAsker) {
  make();
  object->setProcessRoutine(&otherRoutine, 0, 0, 0);
  const intptr_t firstReply = module.dispatch(MOD_GET_PROCESS_SLOT);
  auto* second = new ModuleDouble(&StandInHost::callback, &host, journal);
  HostedModule secondModule(second->hostRecord());
  EXPECT_EQ(firstReply, secondModule.dispatch(MOD_GET_PROCESS_SLOT));
  ASSERT_EQ(reinterpret_cast<intptr_t>(&processSlotReply()), firstReply);
  const ProcessSlotReply& reply = processSlotReply();
  EXPECT_EQ(1, reply.kind);
  EXPECT_EQ(16, reply.size);
  EXPECT_EQ(&second->processSlot, reply.slot);
  EXPECT_EQ(0, reply.reserved);
  EXPECT_EQ(secondModule.record()->process, reply.slot->routine);
  secondModule.close();
}

// What record->process holds each time the host is told of a change.
std::vector<ProcessRoutine> processWhenTold;
int32_t QUORB_CALL watchingHost(ModuleRecord* record, int32_t opcode, int32_t index, int32_t value,
                                void* ptr, float opt) {
  if (opcode == HOST_PROCESS_CHANGED) processWhenTold.push_back(record->process);
  return StandInHost::callback(record, opcode, index, value, ptr, opt);
}

TEST_F(Dispatch, HostIsToldOfARealProcessChangeOnlyAndAfterTheRecordShowsIt) {
  processWhenTold.clear();
  make({}, &watchingHost);
  EXPECT_TRUE(host.calls.empty()); // construction asks the host nothing
  const struct {
    ProcessRoutine routine;
    int32_t adjust[3];
    bool told;
  } steps[] = {
      {&idleProcess, {0, 0, 0}, false},  {&otherRoutine, {0, 0, 0}, true},
      {&otherRoutine, {0, 0, 0}, false}, {&otherRoutine, {1, 0, 0}, true},
      {&otherRoutine, {1, 2, 0}, true},  {&otherRoutine, {1, 2, 3}, true},
      {&idleProcess, {1, 2, 3}, true},
  };
  std::vector<ProcessRoutine> told;
  for (const auto& step : steps) {
    object->setProcessRoutine(step.routine, step.adjust[0], step.adjust[1], step.adjust[2]);
    if (step.told) told.push_back(step.routine);
    EXPECT_EQ(told, processWhenTold);
    EXPECT_EQ(step.routine, module.record()->process);
    EXPECT_EQ(step.routine, object->processSlot.routine);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(step.adjust[i], object->processSlot.adjust[i]);
  }
}

TEST_F(Dispatch, EveryHostCallCarriesTheCallersOwnRecord) {
  host.pinCount = 2;
  auto* other = new ModuleDouble(&StandInHost::callback, &host, journal, {pinOf(PIN_TYPE_5)});
  HostedModule otherModule(other->hostRecord());
  otherModule.open();
  make({pinOf(PIN_TYPE_5), pinOf(PIN_TYPE_5)});
  host.calls.clear();
  module.open();
  object->setProcessRoutine(&otherRoutine, 0, 0, 0);
  other->setProcessRoutine(&otherRoutine, 0, 0, 0);
  ASSERT_EQ(5u, host.calls.size()); // pin count, two pin values, two process changes
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(module.record(), host.calls[i].record) << i;
  EXPECT_EQ(otherModule.record(), host.calls[4].record);
  otherModule.close();
}

} // namespace
