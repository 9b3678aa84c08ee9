// The module file as the host first meets it: its two exports, its texts, its objects.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "recorder_rig.h"

namespace {

ModuleLibrary& library() {
  ModuleLibrary& lib = builtModule();
  EXPECT_TRUE(lib.loaded()) << lib.error();
  return lib;
}

ModuleInfo sentinelInfo() {
  ModuleInfo info;
  info.name = info.id = info.about = reinterpret_cast<const char*>(0x1234);
  info.reserved12 = 0x12;
  info.reserved16 = 0x16;
  info.interfaceVersion = -7;
  return info;
}

TEST(Library, UnknownModuleIndexGivesOnlyTheInterfaceVersion) {
  for (int32_t index : {1, -1, 2, 0x7FFFFFFF}) {
    ModuleInfo info = sentinelInfo();
    EXPECT_EQ(0, library().getModuleProperties(index, &info));
    EXPECT_EQ(2230, info.interfaceVersion);
    EXPECT_EQ(reinterpret_cast<const char*>(0x1234), info.name);
    EXPECT_EQ(reinterpret_cast<const char*>(0x1234), info.id);
    EXPECT_EQ(reinterpret_cast<const char*>(0x1234), info.about);
  }
  EXPECT_EQ(0, library().getModuleProperties(0, nullptr));
}

TEST(Library, ModuleZeroHasTheIdTextTwiceAndLeavesTheHostsWords) {
  ModuleInfo first = sentinelInfo();
  ModuleInfo second = sentinelInfo();
  ASSERT_EQ(1, library().getModuleProperties(0, &first));
  ASSERT_EQ(1, library().getModuleProperties(0, &second));
  EXPECT_STREQ("QUORB_REC_M\n", first.id);
  EXPECT_EQ(first.name, first.id);
  EXPECT_EQ(first.id, second.id);
  EXPECT_EQ(first.about, second.about);
  EXPECT_EQ(2230, first.interfaceVersion);
  EXPECT_EQ(0x12, first.reserved12);
  EXPECT_EQ(0x16, first.reserved16);
}

TEST(Library, AboutTextIsElevenFramedLines) {
  ModuleInfo info = sentinelInfo();
  ASSERT_EQ(1, library().getModuleProperties(0, &info));
  const std::string about = info.about;
  ASSERT_FALSE(about.empty());
  EXPECT_EQ('\n', about.back());
  std::vector<std::string> lines;
  std::istringstream in(about);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  ASSERT_EQ(11u, lines.size());
  const std::string stars = " " + std::string(36, '*');
  for (size_t i : {0u, 4u, 7u, 10u})
    EXPECT_EQ(stars, lines[i]) << "line " << i + 1;
  EXPECT_EQ("QUORB_REC_M", lines[5]);
  EXPECT_EQ(" *    RECORDER for QUORB Files       ", lines[6]);
  EXPECT_EQ(" *          enjoy the MUSIC          ", lines[8]);
  for (size_t i : {1u, 2u, 3u, 9u}) {
    EXPECT_EQ(37u, lines[i].size()) << "line " << i + 1;
    EXPECT_EQ(0u, lines[i].rfind(" *", 0)) << "line " << i + 1;
    EXPECT_NE(std::string::npos, lines[i].find_first_not_of(" *")) << "line " << i + 1;
  }
}

TEST(Library, MakeModuleRefusesOtherIndicesAndKinds) {
  StandInHost host;
  for (auto [index, kind] : {std::pair{0, 0}, {1, 1}, {-1, 1}, {0, 2}, {0, -1}}) {
    EXPECT_EQ(nullptr, library().makeModule(index, kind, &StandInHost::callback, &host))
        << index << "," << kind;
  }
  EXPECT_TRUE(host.calls.empty());
}

TEST(Library, NewRecorderRecordPointsBackAtItsObject) {
  StandInHost host;
  ModuleRecord* record = library().makeModule(0, 1, &StandInHost::callback, &host);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(0x5345504C, record->magic);
  EXPECT_EQ(1, record->version);
  EXPECT_EQ(&host, record->hostHandle);
  EXPECT_NE(nullptr, record->object);
  EXPECT_TRUE(host.calls.empty()); // construction asks the host nothing

  HostedModule module(record);
  const ProcessRoutine idle = record->process;
  module.open();
  EXPECT_EQ(1u, host.count(HOST_NOTIFY_OPEN));
  EXPECT_EQ(1u, host.count(HOST_PROCESS_CHANGED));
  EXPECT_NE(idle, record->process);
  for (const HostCall& call : host.calls)
    EXPECT_EQ(record, call.record);
  // The slot the host can ask for names the same routine.
  auto* reply = reinterpret_cast<ProcessSlotReply*>(module.dispatch(MOD_GET_PROCESS_SLOT));
  ASSERT_NE(nullptr, reply);
  EXPECT_EQ(record->process, reply->slot->routine);
  EXPECT_EQ(1, module.close());
}

TEST(Library, PinDescriptionsFillOnlyTheirOwnFields) {
  StandInHost host;
  HostedModule module(makeRecorder(host));
  const auto* none = reinterpret_cast<const char*>(0x5A5A);
  struct Expected {
    const char* name;
    PinDirection direction;
    PinType type;
    bool hasVariable;
    const char* defaultValue;
    const char* extra;
    int32_t flags;
  };
  const Expected pins[] = {
      {"MIDI In", PIN_IN, PIN_MIDI, false, nullptr, nullptr, 0},
      {"REC", PIN_IN, PIN_ENUM, true, "0", "range 0,1", 0},
      {"OUTFILE", PIN_IN, PIN_TEXT, true, nullptr, "quorb", PIN_FLAG_FILENAME},
      {"on D: DIAGNOSE.TXT", PIN_DIRECTION_3, PIN_BOOL, true, "false", nullptr, 0},
  };
  for (int32_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const Expected& e = pins[i];
    PinDescription d;
    d.variable = const_cast<char*>(none);
    d.direction = d.type = d.flags = d.reserved = 77;
    d.name = d.defaultValue = d.extra = none;
    ASSERT_EQ(1, module.dispatch(MOD_GET_PIN_DESCRIPTION, i, 0, &d));
    EXPECT_STREQ(e.name, d.name);
    EXPECT_EQ(e.direction, d.direction);
    EXPECT_EQ(e.type, d.type);
    EXPECT_EQ(e.flags, d.flags);
    EXPECT_EQ(77, d.reserved);
    if (e.hasVariable) {
      EXPECT_NE(static_cast<void*>(const_cast<char*>(none)), d.variable);
      EXPECT_NE(nullptr, d.variable);
    } else {
      EXPECT_EQ(static_cast<void*>(const_cast<char*>(none)), d.variable);
    }
    if (e.defaultValue)
      EXPECT_STREQ(e.defaultValue, d.defaultValue);
    else
      EXPECT_EQ(none, d.defaultValue);
    if (e.extra)
      EXPECT_STREQ(e.extra, d.extra);
    else
      EXPECT_EQ(none, d.extra);
  }
  for (int32_t i : {4, -1, 1000}) {
    PinDescription d;
    std::memset(&d, 0xA5, sizeof d);
    PinDescription before = d;
    EXPECT_EQ(0, module.dispatch(MOD_GET_PIN_DESCRIPTION, i, 0, &d));
    EXPECT_EQ(0, std::memcmp(&before, &d, sizeof d)) << i;
  }
  module.close();
}

// Out-of-order and malformed calls a careless host may make.
TEST(Library, HostileCallsAreSurvived) {
  ScratchDir scratch;
  {
    // No callback at all: no table, no clock, no path, and still no crash.
    ModuleRecord* record = library().makeModule(0, 1, nullptr, nullptr);
    ASSERT_NE(nullptr, record);
    HostedModule module(record);
    module.pinStatus(PIN_INDEX_OUTFILE, 1);
    module.open();
    module.pinStatus(PIN_INDEX_OUTFILE, 1);
    module.midi(0x90);
    module.block();
    EXPECT_EQ(1, module.close());
  }
  {
    // Closed without ever being opened.
    StandInHost host;
    EXPECT_EQ(1, HostedModule(makeRecorder(host)).close());
  }
  {
    // Fewer than three pins: no file pin, nothing selected, nothing outside the table touched.
    Recorder r(2);
    r.host.resolvedPath = scratch.path("take.quorb");
    // The last index wraps to entry 0 if cut to 32 bits where addresses are 64 bits wide.
    const intptr_t beyond = intptr_t{1} << (sizeof(intptr_t) * 8 - 24);
    for (intptr_t pin : {intptr_t{0}, intptr_t{1}, intptr_t{2}, intptr_t{-1}, beyond})
      r.module.pinStatus(pin, 1);
    EXPECT_EQ(0u, r.host.count(HOST_RESOLVE_FILENAME));
    EXPECT_FALSE(fileExists(scratch.path("take.quorb")));
  }
  {
    // Null event, null description buffer, null object to the process routine.
    StandInHost host;
    HostedModule module(makeRecorder(host));
    module.open();
    module.record()->eventHandler(module.record()->object, nullptr);
    EXPECT_EQ(0, module.dispatch(MOD_GET_PIN_DESCRIPTION, 0, 0, nullptr));
    module.record()->process(nullptr);
    module.event(HostEvent{0, EVENT_RUN, 0, 0, 0});
    module.close();
  }
  {
    // Many objects opened and closed in any order.
    std::vector<std::unique_ptr<Recorder>> many;
    for (int i = 0; i < 64; ++i)
      many.push_back(std::make_unique<Recorder>());
    for (size_t i = 0; i < many.size(); i += 2)
      many[i].reset();
    many.clear();
  }
}

} // namespace
