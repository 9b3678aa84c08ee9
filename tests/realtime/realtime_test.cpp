// What the module costs the audio thread once a file is open: no heap calls per message, and
// write system calls that follow the bytes written, not the messages (counted on Linux). And,
// on Linux, what it does when the C library fails it at any one call of a recording's life.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "allocation_counter.h"
#include "faults.h"
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

#ifdef __linux__
size_t openDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

// Message i of a life: never a system message, its index in its upper bits.
uint32_t lifeMessage(uint32_t i) { return i << 8 | (0x80u + i % 0x70u); }

// The bytes of records `from` to `to` of a life, as the module writes them.
std::vector<uint8_t> lifeRecords(uint32_t from, uint32_t to) {
  std::vector<uint8_t> bytes;
  for (uint32_t i = from; i < to; ++i)
    appendRecord(bytes, i - from, lifeMessage(i));
  return bytes;
}

bool isPrefix(const std::vector<uint8_t>& part, const std::vector<uint8_t>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

constexpr uint32_t FIRST_TAKE = 2600; // five full stream buffers and a part
constexpr uint32_t SECOND_TAKE = 1100;

// A recording's life as the host lives it, every call into the module armed: the object made
// and opened, a first file chosen and recorded, a second chosen and recorded, the object closed.
// Each step is taken whatever the ones before it did, as a host would.
void live(Faults& faults, const ScratchDir& dir) {
  std::filesystem::remove(dir.path("first.quorb"));
  std::filesystem::remove(dir.path("second.quorb"));
  StandInHost host;
  host.journal = false;
  ModuleRecord* record =
      faults.armed([&] { return builtModule().makeModule(0, 1, &StandInHost::callback, &host); });
  if (record == nullptr) return; // refused, nothing made: the host has nothing to drive
  HostedModule module(record);
  faults.armed([&] { module.open(); });
  faults.armed([&] { module.setPin<int16_t>(PIN_INDEX_REC, 1); });
  faults.armed([&] { module.setPin<uint8_t>(PIN_INDEX_DIAGNOSE, 1); });
  uint32_t i = 0;
  for (const auto& [name, end] : {std::pair{"first.quorb", FIRST_TAKE},
                                  std::pair{"second.quorb", FIRST_TAKE + SECOND_TAKE}}) {
    host.resolvedPath = dir.path(name);
    host.clock = 0;
    faults.armed([&] { module.pinStatus(PIN_INDEX_OUTFILE, 1); });
    faults.armed([&] { module.block(); });
    const uint32_t start = i;
    for (; i < end; ++i) {
      host.clock = i - start;
      if (i % 64 == 0) faults.armed([&] { module.block(); });
      faults.armed([&] { module.midi(lifeMessage(i)); });
    }
  }
  faults.armed([&] { module.close(); });
}

// Whatever single call fails, the process goes on, no descriptor is left open, and each file
// holds a prefix of the records sent into it: never a record torn apart, shifted or invented.
TEST_F(RealTime, AnyOneFailingCallLeavesEachFileAPrefixOfItsRecords) {
  const std::vector<uint8_t> first = lifeRecords(0, FIRST_TAKE);
  const std::vector<uint8_t> second = lifeRecords(FIRST_TAKE, FIRST_TAKE + SECOND_TAKE);
  for (const auto& [call, name] :
       {std::pair{FaultCall::write, "write"}, std::pair{FaultCall::fclose, "fclose"},
        std::pair{FaultCall::malloc, "malloc"}}) {
    SCOPED_TRACE(name);
    long calls = 0;
    {
      Faults counting(call, 0);
      live(counting, scratch);
      calls = counting.calls();
    }
    ASSERT_GT(calls, 0) << "the module makes no " << name << " call the seam sees";
    EXPECT_EQ(first, readBytes(scratch.path("first.quorb")));
    EXPECT_EQ(second, readBytes(scratch.path("second.quorb")));
    const size_t descriptors = openDescriptors();
    for (long n = 1; n <= calls; ++n) {
      SCOPED_TRACE(n);
      Faults faults(call, n);
      live(faults, scratch);
      ASSERT_TRUE(faults.failed());
      ASSERT_EQ(descriptors, openDescriptors());
      for (const auto& [file, records] :
           {std::pair{"first.quorb", &first}, std::pair{"second.quorb", &second}}) {
        const std::string path = scratch.path(file);
        if (fileExists(path)) {
          ASSERT_TRUE(isPrefix(readBytes(path), *records)) << file;
        }
      }
    }
  }
}
#endif

} // namespace
