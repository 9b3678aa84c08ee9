// One long recording: ten million messages, every one of them in the file, in order, exact.
#include <gtest/gtest.h>

#include <filesystem>

#include "stress_support.h"

namespace {

constexpr uint32_t MESSAGES = 10000000;
constexpr uint32_t BLOCK = 64;
// The clock starts just short of its 32-bit wrap, which the recording crosses on the way.
constexpr uint32_t START = 0xFFFFFFFFu - MESSAGES / 3;

TEST(LongTake, TenMillionMessagesExact) {
  ScratchDir scratch;
  const std::string take = scratch.path("take.quorb");
  {
    Recorder r;
    r.host.journal = false;
    r.at(START);
    r.rec(1);
    r.choose(take);
    for (uint32_t i = 0; i < MESSAGES; ++i) {
      if (i % BLOCK == 0) r.block();
      r.midi(indexedMessage(i));
      r.at(r.host.clock + 3);
    }
  }
  EXPECT_TRUE(holdsRecords(take, MESSAGES, [](uint64_t i) {
    return Record{uint32_t(i) * 3, indexedMessage(uint32_t(i))};
  }));
  std::filesystem::remove(take);
}

} // namespace
