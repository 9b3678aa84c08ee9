// What the module costs the audio thread once a file is open: no heap calls per message, and
// write system calls that follow the bytes written, not the messages (counted on Linux).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "allocation_counter.h"
#include "recorder_rig.h"

namespace {

#ifdef __linux__
// The module's stream buffer: one write system call per this many bytes.
constexpr long STREAM_BUFFER = 4096;

// Write system calls of the whole process so far (Linux task I/O accounting).
long writeCalls() {
  std::ifstream io("/proc/self/io");
  for (std::string key; io >> key;) {
    long value = 0;
    io >> value;
    if (key == "syscw:") return value;
  }
  return -1;
}
#endif

class RealTime : public ::testing::Test {
protected:
  RealTime() { recorder.host.journal = false; } // the stand-in host's own journal allocates
  ScratchDir scratch;
  FreshLog log;
  Recorder recorder;
  std::string take = scratch.path("take.quorb");

  void startRecording() {
    recorder.choose(take);
    ASSERT_TRUE(fileExists(take));
    recorder.rec(1);
    recorder.block();
  }
  // Messages and blocks interleaved as a host delivers them, the clock moving on.
  void capture(long messages) {
    for (long i = 0; i < messages; ++i) {
      recorder.at(uint32_t(i * 10));
      if (i % 8 == 0) recorder.block();
      recorder.midi(0x00403C90u | uint32_t(i & 0x0F));
    }
  }
};

TEST_F(RealTime, CaptureMakesNoHeapCallsFromTheFirstMessageOn) {
  {
    // The counter must see the module's own calls: opening a stream allocates.
    AllocationCounter selection;
    startRecording();
    ASSERT_GT(selection.count(), 0) << "the allocator replacement is not in use";
  }
  AllocationCounter counter;
  capture(20000); // several buffer refills
  recorder.rec(0);
  recorder.block(); // a pause begins
  recorder.rec(1);
  recorder.block();
  capture(10);
  EXPECT_EQ(0, counter.count());
}

#ifdef __linux__
TEST_F(RealTime, WriteCallsFollowBytesNotMessages) {
  ASSERT_GE(writeCalls(), 0) << "no /proc/self/io";
  // A single message, exactly one buffer, one message past it, and many buffers.
  for (long messages : {1L, 512L, 513L, 40000L}) {
    SCOPED_TRACE(messages);
    Recorder r;
    r.host.journal = false;
    r.choose(scratch.path("w" + std::to_string(messages) + ".quorb"));
    r.rec(1);
    r.block();
    const long before = writeCalls();
    for (long i = 0; i < messages; ++i)
      r.midi(0x90);
    r.close(); // flushes the rest
    const long calls = writeCalls() - before;
    const long bytes = messages * 8;
    EXPECT_GE(calls, 1);
    EXPECT_LE(calls, (bytes + STREAM_BUFFER - 1) / STREAM_BUFFER);
    EXPECT_EQ(size_t(bytes),
              readBytes(scratch.path("w" + std::to_string(messages) + ".quorb")).size());
  }
}
#endif

} // namespace
