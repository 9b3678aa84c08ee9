// The recording file as the host's patch produces it: capture, pauses, time bases and files.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "recorder_rig.h"
#include "started_program.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

class Recording : public ::testing::Test {
protected:
  ScratchDir scratch;
  FreshLog log;
  std::string take = scratch.path("take.quorb");
};

TEST_F(Recording, MessageAt480TicksIsTheDocumentedEightBytes) {
  Recorder r;
  r.play("@1000 file=take.quorb rec=1 blk @1480 m=0x00403C90 close", scratch);
  EXPECT_EQ((std::vector<uint8_t>{0xE0, 0x01, 0x00, 0x00, 0x90, 0x3C, 0x40, 0x00}),
            readBytes(take));
}

struct Scenario {
  const char* what;
  const char* script; // played on one recorder, then closed
  std::vector<Record> take;
};

TEST_F(Recording, TimeBasesAcrossPausesAndRecordings) {
  const Scenario scenarios[] = {
      {"a pause is cut out; paused messages are dropped and blocks keep the pause's start",
       "file=take.quorb rec=1 blk @100 m=0x90 rec=0 blk @300 m=0x91 blk @600 rec=1 blk @610 m=0x92",
       {{100, 0x90}, {110, 0x92}}},
      {"REC 0 at the open: no pause begins, the time base starts with the first REC 1 block",
       "rec=0 file=take.quorb @100 blk m=0x90 @200 blk @3000 rec=1 blk @3010 m=0x91",
       {{10, 0x91}}},
      {"choosing the same file again appends a recording whose time restarts",
       "@10 file=take.quorb rec=1 blk @510 m=0x90 @9000 file=take.quorb blk @9003 m=0x80",
       {{500, 0x90}, {3, 0x80}}},
      {"before the first block the object's first recording counts from clock 0",
       "@700 file=take.quorb rec=1 m=0x80 blk @800 m=0x81",
       {{700, 0x80}, {100, 0x81}}},
      {"REC back to 1 before the next block: the message still carries the pause",
       "file=take.quorb rec=1 blk @100 rec=0 blk @600 rec=1 m=0x82 blk m=0x83",
       {{600, 0x82}, {100, 0x83}}},
      {"a new recording before its first block counts from the old time 0, pauses included",
       "@50 file=take.quorb rec=1 blk rec=0 @100 blk @300 rec=1 blk @5000 file=take.quorb m=0x84 "
       "blk @5007 m=0x85",
       {{4750, 0x84}, {7, 0x85}}},
      {"the clock wraps modulo 2^32, pauses across the wrap included",
       "@0xFFFFFF00 file=take.quorb rec=1 blk @0x10 m=0x90 rec=0 blk @0x7FFFFFFF rec=1 blk "
       "@0x80000004 m=0x91",
       {{0x110, 0x90}, {0x115, 0x91}}},
      {"a failed open closes the old file at once and nothing more is written",
       "file=take.quorb rec=1 blk m=0x90 file=missing/next.quorb size=8 blk m=0x91",
       {{0, 0x90}}},
      {"an empty path fails too",
       "file=take.quorb rec=1 blk m=0x90 file= size=8 blk m=0x91",
       {{0, 0x90}}},
      {"a repeated open flushes and closes the recording",
       "file=take.quorb rec=1 blk m=0x90 "
       "reopen size=8 blk m=0x91",
       {{0, 0x90}}},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.what);
    std::filesystem::remove(take);
    Recorder r;
    r.play(s.script, scratch);
    r.close();
    EXPECT_EQ(s.take, records(readBytes(take)));
    EXPECT_FALSE(fileExists(scratch.path("missing")));
  }
}

TEST_F(Recording, SystemMessagesAreSkippedAndEverythingElseKeptAsDelivered) {
  const struct {
    uint32_t word;
    bool written;
  } cases[] = {{0x000000F8, false}, {0x000000F0, false}, {0x000000FF, false}, {0x12345FF7, false},
               {0x0000F0F1, false}, {0x000001F0, false}, {0x002000E0, true},  {0x0000007F, true},
               {0x00000000, true},  {0xABCD1280, true},  {0x000040EF, true},  {0xFFFFFF3C, true}};
  Recorder r;
  r.play("file=take.quorb rec=1 blk", scratch);
  std::vector<Record> expected;
  for (const auto& c : cases) {
    r.midi(c.word);
    if (c.written) expected.emplace_back(0, c.word);
  }
  r.close();
  EXPECT_EQ(expected, records(readBytes(take)));
}

TEST_F(Recording, CloseFlushesEveryRecord) {
  const uint32_t count = 20000; // far more than one stream buffer
  Recorder r;
  r.play("file=take.quorb rec=1 blk", scratch);
  for (uint32_t i = 0; i < count; ++i) {
    r.at(i);
    r.midi(0x90 | (i << 8));
  }
  r.close();
  const std::vector<Record> got = records(readBytes(take));
  ASSERT_EQ(count, got.size());
  for (uint32_t i = 0; i < count; ++i)
    ASSERT_EQ(Record(i, 0x90 | (i << 8)), got[i]);
}

// A file of any length, one cut inside a record (a full disk, a size limit) included, is appended
// to as it stands: an empty recording leaves it byte for byte, a take adds exactly its records.
TEST_F(Recording, AnyFileIsAppendedToUnchanged) {
  std::vector<uint8_t> note;
  appendRecord(note, 10000, 0x00403C90);
  for (size_t length = 0; length <= 16; ++length) {
    SCOPED_TRACE(length);
    std::vector<uint8_t> bytes;
    for (size_t n = 0; n < length; ++n)
      bytes.push_back(note[n % 8]); // whole records, then the first bytes of a torn one
    writeBytes(take, bytes);
    const std::string fresh = scratch.path("fresh.quorb");
    std::filesystem::remove(fresh);
    Recorder r;
    r.play("file=take.quorb rec=1 blk file=fresh.quorb", scratch);
    ASSERT_TRUE(fileExists(fresh)); // a missing file is created, empty
    EXPECT_EQ(0u, readBytes(fresh).size());
    EXPECT_EQ(bytes, readBytes(take));
    r.play("file=take.quorb blk @5 m=0x90 blk @6 m=0x80 close", scratch);
    appendRecord(bytes, 5, 0x90);
    appendRecord(bytes, 6, 0x80);
    EXPECT_EQ(bytes, readBytes(take));
  }
}

// Other threads of the host's process may flush every stream at any moment (fflush(NULL), or
// _flushall, from any module: they share the C library's stream table). The recording stream
// must meet them only between whole records.
void flushEveryStreamUntil(const std::atomic<bool>& done) {
  for (unsigned n = 0; !done.load(std::memory_order_relaxed); ++n) {
#ifdef _WIN32
    if (n % 2 != 0) {
      _flushall();
      continue;
    }
#endif
    std::fflush(nullptr);
  }
}
std::atomic<bool> neverDone{false};

// Message i of a flushed recording: a Note On naming i in its data bytes.
uint32_t flushedWord(uint32_t i) { return 0x00000090u | (i & 0x7F) << 8 | (i >> 7 & 0x7F) << 16; }

TEST_F(Recording, FlushesOfEveryStreamFromAnotherThreadLoseNothing) {
  constexpr uint32_t COUNT = 400000;
  Recorder r;
  r.host.journal = false; // the journal would grow with every clock reading
  r.play("file=take.quorb rec=1 blk", scratch);
  std::atomic<bool> done{false};
  std::thread flusher(flushEveryStreamUntil, std::ref(done));
  for (uint32_t i = 0; i < COUNT; ++i) {
    r.at(i);
    if (i % 24 == 0) r.block();
    r.midi(flushedWord(i));
  }
  done = true;
  flusher.join();
  r.close();
  const std::vector<uint8_t> bytes = readBytes(take);
  ASSERT_EQ(COUNT * 8u, bytes.size());
  const std::vector<Record> got = records(bytes);
  for (uint32_t i = 0; i < COUNT; ++i)
    ASSERT_EQ(Record(i, flushedWord(i)), got[i]) << "record " << i;
}

// A file for a test whose recording happens in a death test's child. Not a scratch folder:
// where death tests start the program again, the child must find the same name.
std::string childFile(const std::string& name) {
  const std::string file = (std::filesystem::temp_directory_path() / name).string();
  std::filesystem::remove(file);
  return file;
}

// A host that ends its process with exit() and never closes the object, with no audio block
// after its last messages: every record is in the file, since each went to the stream as its
// message was handled and exit() flushes every stream.
TEST(RecordingAtExit, EveryRecordHandledReachesTheFile) {
  for (const uint32_t count : {1u, 100u, 575u}) {
    SCOPED_TRACE(count);
    const std::string file = childFile("quorb-exit-" + std::to_string(count) + ".quorb");
    EXPECT_EXIT(
        {
          Recorder r; // left open: exit() ends the process first
          r.host.journal = false;
          r.choose(file);
          r.rec(1);
          r.block();
          for (uint32_t i = 0; i < count; ++i) {
            r.at(i);
            r.midi(0x00403C90u);
          }
          std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::vector<Record> expected;
    for (uint32_t i = 0; i < count; ++i)
      expected.emplace_back(i, 0x00403C90u);
    EXPECT_EQ(expected, records(readBytes(file)));
    std::filesystem::remove(file);
  }
}

// The process dies at once, as in a crash: no exit code of its own runs. On Windows that is
// TerminateProcess, which a crash ends in; abort() would exit the process through its DLLs, and
// a C library that flushes its streams on the way out could meet a flush that the killed thread
// had left half done.
[[noreturn]] void crash() {
#ifdef _WIN32
  TerminateProcess(GetCurrentProcess(), 3);
#endif
  std::abort();
}

bool crashed(int status) {
#ifdef _WIN32
  return status == 3;
#else
  return ::testing::KilledBySignal(SIGABRT)(status);
#endif
}

// A crash while other threads flush every stream: the file holds what the flushes took, which
// is exactly the first records sent, ending on a whole record.
TEST(RecordingAtCrash, FileHoldsAPrefixOfWholeRecords) {
  for (const uint32_t count : {1u, 63u, 511u, 512u, 513u, 1500u, 4097u, 9000u, 20011u, 40000u}) {
    SCOPED_TRACE(count);
    const std::string file = childFile("quorb-abort-" + std::to_string(count) + ".quorb");
    EXPECT_EXIT(
        {
          Recorder r;
          r.host.journal = false;
          r.choose(file);
          r.rec(1);
          r.block();
          std::thread flusher(flushEveryStreamUntil, std::ref(neverDone));
          flusher.detach();
          for (uint32_t i = 0; i < count; ++i) {
            r.at(i);
            if (i % 24 == 0) r.block();
            r.midi(flushedWord(i));
          }
          crash();
        },
        crashed, "");
    const std::vector<uint8_t> bytes = readBytes(file);
    EXPECT_EQ(0u, bytes.size() % 8) << "a torn record";
    EXPECT_LE(bytes.size(), count * 8u);
    const std::vector<Record> got = records(bytes);
    for (uint32_t i = 0; i < got.size(); ++i)
      ASSERT_EQ(Record(i, flushedWord(i)), got[i]) << "record " << i;
    std::filesystem::remove(file);
  }
}

// A program the host starts while recording inherits nothing of the recording: the file can be
// chosen again while that program runs, and the second take follows the first.
TEST_F(Recording, AProgramStartedWhileRecordingHoldsNothing) {
  Recorder r;
  r.play("diag=1 file=take.quorb rec=1 blk @5 m=0x90", scratch);
  StartedProgram holder(QUORB_HOLD_FILE, scratch.path("holder.txt"));
  ASSERT_TRUE(holder.running()) << "the program did not start";
  r.play("@100 file=take.quorb blk @103 m=0x91 close", scratch);
  EXPECT_EQ((std::vector<Record>{{5, 0x90}, {3, 0x91}}), records(readBytes(take)));
  EXPECT_EQ("err=0 " + take + "\nerr=0 " + take + "\n", readLog());
}

TEST_F(Recording, OnlyStatusOneOnOutfileSelectsAFile) {
  Recorder r;
  r.host.resolvedPath = take;
  for (auto [pin, status] : {std::pair{PIN_INDEX_REC, 1},
                             {PIN_INDEX_MIDI_IN, 1},
                             {PIN_INDEX_DIAGNOSE, 1},
                             {PIN_INDEX_OUTFILE, 2},
                             {PIN_INDEX_OUTFILE, 0}})
    r.module.pinStatus(pin, status);
  EXPECT_EQ(0u, r.host.count(HOST_RESOLVE_FILENAME));
  r.module.pinStatus(PIN_INDEX_OUTFILE, 1);
  ASSERT_EQ(1u, r.host.count(HOST_RESOLVE_FILENAME));
  const HostCall ask = r.host.callsOf(HOST_RESOLVE_FILENAME)[0];
  EXPECT_EQ(PIN_INDEX_OUTFILE, ask.index);
  EXPECT_EQ(400, ask.value);
  r.module.pinStatus(PIN_INDEX_REC, 1); // the 1 was an edge: no second selection
  EXPECT_EQ(1u, r.host.count(HOST_RESOLVE_FILENAME));
}

TEST_F(Recording, TwoObjectsOnOneFileTheSecondIsRefusedUntilTheFirstLetsGo) {
  Recorder first;
  Recorder second;
  first.play("file=take.quorb rec=1 blk", scratch);
#ifdef _WIN32
  // The hold is the system's share mode, not the recorder's bookkeeping: no one else gets in.
  std::FILE* other = std::fopen(take.c_str(), "rb");
  EXPECT_EQ(nullptr, other);
  if (other != nullptr) std::fclose(other);
#endif
  second.play("diag=1 file=take.quorb rec=1 blk m=0x91", scratch);
  first.play("@5 m=0x90 close", scratch);
  second.play("file=take.quorb blk m=0x92 close", scratch);
  EXPECT_EQ((std::vector<Record>{{5, 0x90}, {0, 0x92}}), records(readBytes(take)));
  EXPECT_EQ("err=" + std::to_string(EACCES) + " " + take + "\nerr=0 " + take + "\n", readLog());
}

} // namespace
