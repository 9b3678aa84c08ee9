// The boundary records are pinned by static_asserts in the header; these checks add what a
// static_assert cannot see: the bytes a freshly constructed record holds.
#include <gtest/gtest.h>

#include <cstring>

#include "module_base.h"

namespace {

TEST(Layout, RecordHoldsMagicVersionHandleAndEntries) {
  int handle = 0;
  ModuleBase module(nullptr, &handle);
  ModuleRecord* record = module.hostRecord();
  const unsigned char magicBytes[4] = {0x4C, 0x50, 0x45, 0x53};
  EXPECT_EQ(0, std::memcmp(record, magicBytes, 4));
  EXPECT_EQ(1, record->version);
  EXPECT_EQ(&handle, record->hostHandle);
  EXPECT_EQ(&module, record->object);
  EXPECT_NE(nullptr, record->dispatcher);
  EXPECT_NE(nullptr, record->eventHandler);
  EXPECT_EQ(&idleProcess, record->process);
  EXPECT_EQ(0, record->reserved0);
  for (int32_t word : record->reserved1)
    EXPECT_EQ(0, word);
}

} // namespace
