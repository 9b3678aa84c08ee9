// The stand-in host playing whole MIDI files through the built module file: MIDI files made
// here byte by byte played as quorb-host record plays them, and the block rule behind it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "playback.h"
#include "recorder_rig.h"

namespace {

// A type 0 file with one track. Each event is its delta time in ticks and its bytes as they
// stand in the file (running status allowed); End-of-Track is added.
struct Event {
  uint32_t delta;
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> midiFile(uint16_t division, const std::vector<Event>& events) {
  std::vector<uint8_t> track;
  auto varLength = [&](uint32_t value) {
    uint8_t groups[5];
    int n = 0;
    do {
      groups[n++] = uint8_t(value & 0x7F);
      value >>= 7;
    } while (value != 0);
    while (n-- > 0)
      track.push_back(uint8_t(groups[n] | (n > 0 ? 0x80 : 0)));
  };
  for (const Event& e : events) {
    varLength(e.delta);
    track.insert(track.end(), e.bytes.begin(), e.bytes.end());
  }
  track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
  std::vector<uint8_t> file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
  file.push_back(uint8_t(division >> 8));
  file.push_back(uint8_t(division));
  file.insert(file.end(), {'M', 'T', 'r', 'k'});
  const auto size = uint32_t(track.size());
  file.insert(file.end(),
              {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)});
  file.insert(file.end(), track.begin(), track.end());
  return file;
}

class QuorbHostRecord : public ::testing::Test {
protected:
  ScratchDir scratch;
  FreshLog log;
  std::string mid = scratch.path("in.mid");
  std::string take = scratch.path("take.quorb");

  // What quorb-host record does with a MIDI file, short of its command line (tools_test.py).
  PlaybackReport record(const PlaybackSettings& settings) {
    return play(builtModule(), quorb::readChannelMessages(mid), take, settings);
  }
};

// At 48000 Hz and 480 ticks per quarter, a tick is 50 samples at 120 bpm and 25 at 240 bpm.
TEST_F(QuorbHostRecord, EachMessageLandsOnItsOwnSample) {
  writeBytes(mid, midiFile(480, {{0, {0x90, 0x3C, 0x40}},
                                 {7, {0x3C, 0x00}}, // running status
                                 {100, {0xB3, 0x07, 0x64}},
                                 {0, {0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}}, // 240 bpm
                                 {1, {0xE0, 0x00, 0x40}},
                                 {10, {0xF0, 0x02, 0x7E, 0xF7}}, // not delivered: no channel
                                 {3, {0xC9, 0x05}}}));
  PlaybackSettings settings;
  settings.rate = 48000;
  EXPECT_EQ(5u, record(settings).messages);
  EXPECT_EQ(
      (std::vector<Record>{
          {0, 0x403C90}, {350, 0x003C90}, {5350, 0x6407B3}, {5375, 0x4000E0}, {5700, 0x05C9}}),
      records(readBytes(take)));
  EXPECT_FALSE(fileExists(DIAGNOSTIC_LOG)); // switch off
}

TEST_F(QuorbHostRecord, PausesCutWholeBlocksAndAppendToAnExistingFile) {
  // A note-on every quarter second, 0 to 3 s; paused from 1 s to 2 s in blocks of 100 samples.
  std::vector<Event> quarters;
  for (uint8_t i = 0; i <= 12; ++i)
    quarters.push_back({i == 0 ? 0u : 240u, {0x90, uint8_t(60 + i), 0x40}});
  writeBytes(mid, midiFile(480, quarters));
  writeBytes(take, {0xAA, 0xBB, 0xCC}); // the module appends after whatever is there
  PlaybackSettings settings;
  settings.rate = 48000;
  settings.block = 100;
  settings.pauses = {{1, 2}};
  settings.diagnose = true;
  EXPECT_EQ(4u, record(settings).pausedMessages);
  std::vector<Record> expected;
  for (uint32_t i = 0; i <= 12; ++i)
    if (i < 4 || i >= 8) // the one at 2 s, handled right after the resuming block, is kept
      expected.emplace_back(i * 12000 - (i >= 8 ? 48000 : 0), 0x400090 | (60 + i) << 8);
  const std::vector<uint8_t> bytes = readBytes(take);
  // The take follows the bytes that were there, unchanged.
  ASSERT_EQ(3 + 8 * expected.size(), bytes.size());
  EXPECT_EQ((std::vector<uint8_t>{0xAA, 0xBB, 0xCC}),
            std::vector<uint8_t>(bytes.begin(), bytes.begin() + 3));
  EXPECT_EQ(expected, records(std::vector<uint8_t>(bytes.begin() + 3, bytes.end())));
  EXPECT_EQ("err=0 " + take + "\n", readLog());
}

// The block rule itself, on sample positions no MIDI file division would give: at 1000 Hz in
// blocks of 64, a pause from 1 s to 2 s runs from block 15 (sample 960) to block 31 (sample
// 1984), cutting out 1024 samples, whatever samples the two seconds fall on inside them.
TEST(Playback, PausesFollowTheBlocksThatHoldTheirEnds) {
  const uint32_t samples[] = {0, 959, 960, 999, 1000, 1983, 1984, 2000, 2500, 3100};
  std::vector<quorb::TimedMessage> messages;
  for (uint32_t s : samples)
    messages.push_back({s / 1000.0, 0x90 | s << 8});
  const struct {
    const char* what;
    std::vector<Pause> pauses;
    std::vector<uint32_t> kept; // samples whose messages are recorded
    uint32_t cut;               // samples cut out before those after the pauses
  } cases[] = {
      {"no pause", {}, {0, 959, 960, 999, 1000, 1983, 1984, 2000, 2500, 3100}, 0},
      {"one pause", {{1, 2}}, {0, 959, 1984, 2000, 2500, 3100}, 1024},
      {"overlapping pauses merge", {{1.5, 2.4}, {1, 2}}, {0, 959, 2500, 3100}, 1408},
      {"a pause inside one block changes nothing",
       {{1.0, 1.02}},
       {0, 959, 960, 999, 1000, 1983, 1984, 2000, 2500, 3100},
       0},
      {"past the last message", {{3, 9}}, {0, 959, 960, 999, 1000, 1983, 1984, 2000, 2500}, 0},
  };
  ScratchDir scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string take = scratch.path(std::string(c.what) + ".quorb");
    PlaybackSettings settings;
    settings.rate = 1000;
    settings.block = 64;
    settings.pauses = c.pauses;
    const PlaybackReport report = play(builtModule(), messages, take, settings);
    EXPECT_EQ(messages.size(), report.messages);
    EXPECT_EQ(49u, report.blocks); // through the block holding sample 3100
    std::vector<Record> expected;
    for (uint32_t s : c.kept)
      expected.emplace_back(s < 1000 ? s : s - c.cut, 0x90 | s << 8);
    EXPECT_EQ(expected, records(readBytes(take)));
  }
}

TEST(Playback, RefusesWhatCannotBePlayedBeforeTouchingTheFile) {
  ScratchDir scratch;
  const std::string take = scratch.path("take.quorb");
  const std::vector<quorb::TimedMessage> fine{{0.5, 0x90}};
  PlaybackSettings good;
  // 2^32 samples at 44100 Hz is about 97392 s: one turn of the host's clock.
  EXPECT_THROW(play(builtModule(), {{97392.0, 0x90}}, take, good), PlaybackError);
  EXPECT_THROW(play(builtModule(), {{-0.001, 0x90}}, take, good), PlaybackError);
  const ModuleLibrary missing(scratch.path("missing.so"));
  EXPECT_THROW(play(missing, fine, take, good), PlaybackError);
  EXPECT_FALSE(fileExists(take));
  PlaybackSettings longBlocks; // the last sample of the clock's turn, in few blocks
  longBlocks.block = 1 << 20;
  EXPECT_NO_THROW(play(builtModule(), {{97391.0, 0x90}}, take, longBlocks));
  EXPECT_EQ((std::vector<Record>{{4294943100u, 0x90}}), records(readBytes(take)));
}

} // namespace
