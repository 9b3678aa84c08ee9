// Faults from the file system: a full disk, a file-size limit, paths that cannot be files. The
// module reports none of them except through the log, but it must not crash, must not disturb
// the other objects, and must record again once given a good file.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "stress_support.h"

namespace {

constexpr uint32_t BLOCK = 64;

// The open result the log recorded for the last selection, -1 without a line.
int lastLoggedResult() {
  const std::string text = readLog();
  const size_t at = text.rfind("err=");
  return at == std::string::npos ? -1 : std::stoi(text.substr(at + 4));
}

// Message i of a recording, one tick after message i - 1, a block before every 64th.
void step(Recorder& r, uint32_t i) {
  if (i % BLOCK == 0) r.block();
  r.midi(indexedMessage(i));
  r.at(r.host.clock + 1);
}

// Plays `count` messages on every recorder in turn, so that the objects' streams fill and spill
// interleaved.
void interleave(std::initializer_list<Recorder*> recorders, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    for (Recorder* r : recorders)
      step(*r, i);
}

Record tickRecord(uint64_t i) { return {uint32_t(i), indexedMessage(uint32_t(i))}; }

void startOn(Recorder& r, const std::string& path) {
  r.host.journal = false;
  r.diagnose(1);
  r.rec(1);
  r.choose(path);
}

// Another program may hold /dev/full for a moment (the module locks what it opens, devices
// included); a few more selections outlast that. True once the last selection opened it.
bool heldAfterRetries(Recorder& r, const std::string& path) {
  for (int attempt = 0; attempt < 50 && lastLoggedResult() == EACCES; ++attempt) {
    usleep(100000);
    r.choose(path);
  }
  return lastLoggedResult() == 0;
}

TEST(Faults, DiskFullLosesOnlyItsOwnRecording) {
  ScratchDir scratch;
  FreshLog log;
  constexpr uint32_t MESSAGES = 100000; // 800 kB: the full stream fails to spill many times
  Recorder full, first, second;
  startOn(first, scratch.path("first.quorb"));
  startOn(full, "/dev/full");
  ASSERT_TRUE(heldAfterRetries(full, "/dev/full")) << readLog();
  startOn(second, scratch.path("second.quorb"));
  interleave({&first, &full, &second}, MESSAGES);

  // Failing writes behind it, the object still takes a good file and records into it.
  full.choose(scratch.path("after.quorb"));
  full.block();
  interleave({&full}, 10);
  full.close();
  first.close();
  second.close();

  EXPECT_TRUE(holdsRecords(scratch.path("first.quorb"), MESSAGES, tickRecord));
  EXPECT_TRUE(holdsRecords(scratch.path("second.quorb"), MESSAGES, tickRecord));
  EXPECT_TRUE(holdsRecords(scratch.path("after.quorb"), 10, tickRecord));
}

// The expected bytes of `count` tick records, for a file that may hold only a prefix of them.
bool isRecordPrefix(const std::vector<uint8_t>& bytes, uint32_t count) {
  std::vector<uint8_t> expected;
  for (uint32_t i = 0; i < count; ++i) {
    const Record r = tickRecord(i);
    appendRecord(expected, r.first, r.second);
  }
  return bytes.size() <= expected.size() &&
         std::equal(bytes.begin(), bytes.end(), expected.begin());
}

// Runs `record` in a child under a file-size limit of `limit` bytes, which `lift()` raises again,
// so that the limit and the ignored signal leak into no other test. The parent judges the files.
template <typename Body> void underSizeLimit(rlim_t limit, Body record) {
  const pid_t child = fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit rl{};
    getrlimit(RLIMIT_FSIZE, &rl);
    const rlim_t lifted = rl.rlim_cur;
    rl.rlim_cur = limit;
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(2);
    record([&] {
      rl.rlim_cur = lifted;
      if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(3);
    });
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  ASSERT_EQ(0, WEXITSTATUS(status));
}

// A file cut by a size limit keeps exactly the records sent up to the limit, with nothing after
// the tear even once the limit is lifted (the disk gets space back), until the file is chosen
// again: records after the tear would land off the record grid.
TEST(Faults, FileSizeLimitStopsOnlyTheFileThatReachesIt) {
  ScratchDir scratch;
  FreshLog log;
  constexpr rlim_t LIMIT = 100004; // bytes; not a whole number of records or buffers
  constexpr uint32_t BIG = 100000; // 800 kB, far past the limit
  constexpr uint32_t SMALL = 5000; // 40 kB, within it
  underSizeLimit(LIMIT, [&](auto lift) {
    Recorder big, small;
    startOn(small, scratch.path("small.quorb"));
    startOn(big, scratch.path("big.quorb"));
    for (uint32_t i = 0; i < BIG; ++i) {
      if (i < SMALL) step(small, i);
      step(big, i);
    }
    lift();
    for (uint32_t i = BIG; i < BIG + SMALL; ++i)
      step(big, i);
    big.choose(scratch.path("after.quorb"));
    big.block();
    interleave({&big}, 10);
  });

  const std::vector<uint8_t> big = readBytes(scratch.path("big.quorb"));
  EXPECT_EQ(LIMIT, big.size())
      << "the file should hold every byte sent up to the limit, and no more";
  EXPECT_TRUE(isRecordPrefix(big, BIG)) << "what reached big.quorb is not what was recorded";
  EXPECT_TRUE(holdsRecords(scratch.path("small.quorb"), SMALL, tickRecord));
  EXPECT_TRUE(holdsRecords(scratch.path("after.quorb"), 10, tickRecord));

  // A new take into the cut file follows the torn record as it was left.
  ASSERT_NE(0u, big.size() % 8) << "the limit should cut a record";
  {
    Recorder again;
    startOn(again, scratch.path("big.quorb"));
    interleave({&again}, 10);
  }
  std::vector<uint8_t> expected = big;
  for (uint32_t i = 0; i < 10; ++i)
    appendRecord(expected, tickRecord(i).first, tickRecord(i).second);
  EXPECT_TRUE(expected == readBytes(scratch.path("big.quorb")));
}

// Another thread's flush of every stream meets the limit while records wait in the buffer: the
// module sees the error it left on the stream and adds nothing more, limit lifted or not.
TEST(Faults, AForeignFlushThatFailsStopsTheFileToo) {
  ScratchDir scratch;
  FreshLog log;
  constexpr rlim_t LIMIT = 100; // bytes: inside the thirteenth record
  underSizeLimit(LIMIT, [&](auto lift) {
    Recorder r;
    startOn(r, scratch.path("take.quorb"));
    interleave({&r}, 50); // 400 bytes, all in the stream's buffer
    std::fflush(nullptr);
    lift();
    for (uint32_t i = 50; i < 100; ++i)
      step(r, i);
  });
  const std::vector<uint8_t> bytes = readBytes(scratch.path("take.quorb"));
  EXPECT_EQ(LIMIT, bytes.size());
  EXPECT_TRUE(isRecordPrefix(bytes, 100));
}

struct BadPath {
  const char* what;
  const char* name; // relative to the scratch directory
  int error;
};

// Each bad selection comes while a good file is being recorded: the old file is closed whole,
// nothing is written anywhere meanwhile, and the next good selection records again.
TEST(Faults, PathsThatCannotBeRecordingFiles) {
  const BadPath cases[] = {
      {"a path that is a folder", "folder", EISDIR},
      {"a path whose parent is a file", "plain.txt/take.quorb", ENOTDIR},
      {"a path through a file deeper down", "plain.txt/sub/take.quorb", ENOTDIR},
  };
  for (const BadPath& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir scratch;
    FreshLog log;
    std::filesystem::create_directory(scratch.path("folder"));
    writeBytes(scratch.path("plain.txt"), {'k', 'e', 'e', 'p'});

    Recorder r;
    r.diagnose(1);
    r.rec(1);
    r.play("@0 file=first.quorb blk m=0x90", scratch);
    r.play(std::string("@5 file=") + c.name + " blk @6 m=0x91", scratch);
    r.play("@7 file=second.quorb blk @9 m=0x92 close", scratch);

    EXPECT_EQ(readLog(), "err=0 " + scratch.path("first.quorb") +
                             "\nerr=" + std::to_string(c.error) + " " + scratch.path(c.name) +
                             "\nerr=0 " + scratch.path("second.quorb") + "\n");
    EXPECT_EQ((std::vector<Record>{{0, 0x90}}), records(readBytes(scratch.path("first.quorb"))));
    EXPECT_EQ((std::vector<Record>{{2, 0x92}}), records(readBytes(scratch.path("second.quorb"))));
    EXPECT_TRUE(std::filesystem::is_empty(scratch.path("folder")));
    EXPECT_EQ((std::vector<uint8_t>{'k', 'e', 'e', 'p'}), readBytes(scratch.path("plain.txt")));
  }
}

} // namespace
