// Eight objects recording at once, one thread each, as the host runs separate objects: the
// objects share the standard library's stream table and nothing else, so no record may stray
// into another object's file, go missing or tear.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "stress_support.h"

namespace {

constexpr int OBJECTS = 8;
constexpr uint32_t MESSAGES = 200000; // per object, over two recordings
constexpr uint32_t BLOCK = 64;        // messages per audio block
constexpr uint32_t PAUSE = 5000;      // ticks cut out halfway through the first recording

// The object's message words carry its number in the index bits, so a stray record names its
// origin.
uint32_t messageOf(int object, uint32_t i) { return indexedMessage(uint32_t(object) << 20 | i); }

// Recording 1: messages 0 .. MESSAGES/2, one tick apart, with a pause after the first quarter.
// Recording 2 (the file chosen again): the rest, times again from 0.
Record expectedOf(int object, uint64_t index) {
  const uint32_t i = uint32_t(index);
  if (i < MESSAGES / 4) return {i, messageOf(object, i)};
  if (i < MESSAGES / 2) return {i, messageOf(object, i)}; // the pause left no gap
  return {i - MESSAGES / 2, messageOf(object, i)};
}

void perform(Recorder& r, int object, const std::string& file, std::atomic<int>& ready) {
  r.host.journal = false;
  ready.fetch_add(1);
  while (ready.load() < OBJECTS)
    std::this_thread::yield();

  uint32_t clock = 1000u * uint32_t(object);
  r.at(clock);
  r.rec(1);
  for (uint32_t i = 0; i < MESSAGES; ++i) {
    if (i == 0 || i == MESSAGES / 2) {
      r.choose(file);
      r.block();
      clock = r.host.clock;
    }
    if (i == MESSAGES / 4) { // pause at this tick, resume PAUSE ticks later
      r.rec(0);
      r.block();
      clock += PAUSE;
      r.at(clock);
      r.rec(1);
      r.block();
    }
    if (i % BLOCK == 0) r.block();
    r.midi(0xF8); // a timing clock between every two messages: never recorded
    r.midi(messageOf(object, i));
    r.at(++clock);
  }
  r.close();
}

TEST(Threads, EightObjectsOnEightThreadsEachFileExact) {
  ScratchDir scratch;
  std::vector<std::unique_ptr<Recorder>> recorders;
  std::vector<std::string> files;
  for (int object = 0; object < OBJECTS; ++object) {
    recorders.push_back(std::make_unique<Recorder>());
    files.push_back(scratch.path("take" + std::to_string(object) + ".quorb"));
  }
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int object = 0; object < OBJECTS; ++object)
    threads.emplace_back(perform, std::ref(*recorders[size_t(object)]), object,
                         std::cref(files[size_t(object)]), std::ref(ready));
  for (std::thread& thread : threads)
    thread.join();

  for (int object = 0; object < OBJECTS; ++object) {
    SCOPED_TRACE("object " + std::to_string(object));
    EXPECT_TRUE(holdsRecords(files[size_t(object)], MESSAGES,
                             [object](uint64_t i) { return expectedOf(object, i); }));
  }
}

} // namespace
