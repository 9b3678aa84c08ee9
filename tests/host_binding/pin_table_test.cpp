// The pin table MOD_OPEN builds from the host's pin count and the module's descriptions.
#include <gtest/gtest.h>

#include <iterator>

#include "module_double.h"

namespace {

using Indices = std::vector<int32_t>;
using PinTable = HostedDouble;
constexpr PinType UNFILLED = -1;

// Checks entry i against types[i]: UNFILLED, or filled with that type, its own index, the
// object as module and status 0.
void expectEntries(ModuleBase* object, const std::vector<PinType>& types) {
  ASSERT_EQ(static_cast<int32_t>(types.size()), object->pinCount());
  EXPECT_EQ(types.empty(), object->pinTable() == nullptr);
  for (size_t i = 0; i < types.size(); ++i) {
    const Pin& entry = object->pinTable()[i];
    EXPECT_EQ(types[i] != UNFILLED, entry.filled()) << "entry " << i;
    if (!entry.filled()) continue;
    EXPECT_EQ(types[i], entry.type) << "entry " << i;
    EXPECT_EQ(static_cast<int32_t>(i), entry.index);
    EXPECT_EQ(object, entry.module);
    EXPECT_EQ(0, entry.status);
  }
}

TEST_F(PinTable, BuildFollowsHostCountDescriptionsAndSkipFlags) {
  constexpr PinType E = PIN_ENUM, B = PIN_BOOL, F = PIN_FLOAT, I = PIN_TYPE_8, U = UNFILLED;
  const std::vector<PinDescription> four = {pinOf(E), pinOf(B), pinOf(F), pinOf(I)};
  const std::vector<PinDescription> skipFirst = {pinOf(E, PIN_FLAG_SKIP), pinOf(B), pinOf(F)};
  const std::vector<PinDescription> keepFirst = {pinOf(E, PIN_FLAG_SKIP | PIN_FLAG_KEEP), pinOf(B),
                                                 pinOf(F)};
  const struct {
    int32_t hostCount;
    std::vector<PinDescription> descriptions;
    Indices queried;
    std::vector<PinType> entries;
  } cases[] = {
      {4, four, {0, 1, 2, 3, 4, 3}, {E, B, F, I}},
      {2, four, {0, 1, 2, 1}, {E, B}},
      {6, four, {0, 1, 2, 3, 4, 3}, {E, B, F, I, U, U}},
      {2, {}, {0, -1}, {U, U}},
      {0, four, {0, -1}, {}},
      {-3, four, {0, -1}, {}},
      {ModuleBase::MAX_PIN_TABLE + 1, four, {0, -1}, {}},
      {2, skipFirst, {0, 1, 2, 3, 2}, {B, F}},
      {2, keepFirst, {0, 1, 2, 1}, {E, B}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    host.pinCount = c.hostCount;
    make(c.descriptions);
    module.open();
    EXPECT_EQ(c.queried, journal.queried);
    expectEntries(object, c.entries);
  }
}

TEST_F(PinTable, WithoutACallbackDescriptionsAreStillQueriedButNothingIsBuilt) {
  make({pinOf(PIN_TYPE_5)}, nullptr);
  module.open();
  EXPECT_EQ((Indices{0, -1}), journal.queried);
  expectEntries(object, {});
}

TEST_F(PinTable, LastDescriptionRepeatsWithItsOwnLocalValues) {
  host.pinCount = 6;
  float level = 1.5f;
  make({pinOf(PIN_ENUM), pinOf(PIN_BOOL), pinOf(PIN_FLOAT, PIN_FLAG_REPEAT, &level)});
  module.open();
  EXPECT_EQ((Indices{0, 1, 2, 3, 2}), journal.queried);
  expectEntries(object, {PIN_ENUM, PIN_BOOL, PIN_FLOAT, PIN_FLOAT, PIN_FLOAT, PIN_FLOAT});
  EXPECT_EQ(&level, object->pinTable()[2].variable);
  for (int i = 3; i < 6; ++i) {
    Pin& entry = object->pinTable()[i];
    EXPECT_EQ(&entry.localValue.floatValue, entry.variable) << "entry " << i;
    EXPECT_EQ(0.0f, entry.localValue.floatValue);
  }
}

TEST_F(PinTable, PinsWithoutAVariableGetALocalValueByType) {
  const PinType types[] = {PIN_ENUM, PIN_BOOL,   PIN_FLOAT,  PIN_TYPE_8, PIN_TEXT,
                           PIN_MIDI, PIN_TYPE_3, PIN_TYPE_7, 42,         PIN_TYPE_5};
  const bool hasLocal[] = {true, true, true, true, false, false, false, false, false, true};
  int32_t moduleValue = 0;
  std::vector<PinDescription> descriptions;
  for (PinType type : types)
    descriptions.push_back(pinOf(type));
  descriptions.push_back(pinOf(PIN_TYPE_5, 0, &moduleValue)); // asks the host nothing
  host.pinCount = static_cast<int32_t>(descriptions.size());
  host.pinValues = {100, 101, 102, 103, 104, 105, 106, 107, 108, -109, 110};
  make(descriptions);
  module.open();
  const Pin* entries = object->pinTable();
  for (size_t i = 0; i < std::size(types); ++i) {
    EXPECT_EQ(hasLocal[i] ? &entries[i].localValue : nullptr, entries[i].variable) << types[i];
    // All-zero bits read as 0 through every member, 0.0f included.
    EXPECT_TRUE(types[i] == PIN_TYPE_5 || entries[i].localValue.intValue == 0) << types[i];
  }
  EXPECT_EQ(-109, entries[9].localValue.intValue);
  EXPECT_EQ(&moduleValue, entries[10].variable);
  ASSERT_EQ(1u, host.count(HOST_GET_PIN_VALUE));
  EXPECT_EQ(9, host.callsOf(HOST_GET_PIN_VALUE)[0].index);
}

TEST_F(PinTable, EveryOpenRebuildsForTheCurrentHostCount) {
  make({pinOf(PIN_ENUM), pinOf(PIN_BOOL)});
  const struct {
    int32_t hostCount;
    std::vector<PinType> entries;
  } opens[] = {
      {2, {PIN_ENUM, PIN_BOOL}}, {1, {PIN_ENUM}}, {0, {}}, {3, {PIN_ENUM, PIN_BOOL, UNFILLED}}};
  for (const auto& o : opens) {
    host.pinCount = o.hostCount;
    module.open();
    expectEntries(object, o.entries);
  }
}

} // namespace
