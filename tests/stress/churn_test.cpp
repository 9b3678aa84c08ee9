// Objects created, given files and closed many times over: every stream the module opens, for
// the recording or the log, on success or on failure, is closed again.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "stress_support.h"

namespace {

constexpr int CYCLES = 10000;

TEST(Churn, TenThousandObjectsLeaveNoDescriptorOpen) {
  ScratchDir scratch;
  FreshLog log;
  std::filesystem::create_directory(scratch.path("folder"));
  // A file held for the whole run: choosing it fails only after the module's own open has
  // succeeded, so the stream it opened must be closed on the way out.
  Recorder holder;
  holder.choose(scratch.path("held.quorb"));

  // Every way a selection can end, one per cycle in turn, each after a good selection that is
  // still open when it comes.
  const std::string failing[] = {
      scratch.path("take.quorb"), // good: the same file chosen again
      scratch.path("held.quorb"), scratch.path("missing/take.quorb"), scratch.path("folder"), "",
  };
  const size_t before = openDescriptors();
  uint32_t recorded = 0;
  for (int cycle = 0; cycle < CYCLES; ++cycle) {
    Recorder r;
    r.host.journal = false;
    r.diagnose(cycle % 2); // every other cycle writes the log too
    r.choose(scratch.path("take.quorb"));
    r.rec(1);
    r.block();
    r.midi(indexedMessage(recorded++));
    r.choose(failing[size_t(cycle) % std::size(failing)]);
    if (cycle % 3 == 0) r.block(); // some objects are closed right after a selection
    r.close();
  }
  EXPECT_EQ(before, openDescriptors());

  // Nothing was lost on the way: one record per cycle, in order, each at time 0.
  EXPECT_TRUE(holdsRecords(scratch.path("take.quorb"), recorded, [](uint64_t i) {
    return Record{0, indexedMessage(uint32_t(i))};
  }));
  // Half the cycles logged two selections each.
  size_t lines = 0;
  for (char c : readLog())
    lines += c == '\n';
  EXPECT_EQ(size_t(CYCLES), lines);
}

} // namespace
