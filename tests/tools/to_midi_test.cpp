#include "message.h"
#include "recording.h"
#include "smf_writer.h"
#include "to_midi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace quorb;

namespace {

using Bytes = std::vector<uint8_t>;

Take takeOf(const std::vector<std::pair<uint64_t, uint32_t>>& ticksAndMessage) {
  Take out;
  for (const auto& [ticks, message] : ticksAndMessage)
    out.events.push_back(
        {out.events.size(), 8 * out.events.size(), uint32_t(ticks), message, ticks, false, ticks});
  return out;
}

MidiOptions options(double rate, uint16_t ppq = 960, double bpm = 120) {
  MidiOptions o;
  o.rate = rate;
  o.ppq = ppq;
  o.bpm = bpm;
  o.grid.plain = true; // the conversion's mechanics; the grid is tested through the built quorb
  return o;
}

// What a reader sees: the conversion written out and parsed back.
SmfFile roundTrip(const MidiConversion& midi, uint16_t ppq) {
  return parseSmf(smfBytes(midi.format, ppq, midi.tracks));
}

std::vector<SmfEvent> channelEvents(const SmfTrack& track) {
  std::vector<SmfEvent> out;
  for (const SmfEvent& event : track.events)
    if (event.bytes[0] != 0xFF) out.push_back(event);
  return out;
}

} // namespace

TEST(Tomidi, FileTicksComeFromAbsoluteTime) {
  const struct {
    uint64_t ticks;
    double rate;
    uint16_t ppq;
    double bpm;
    uint64_t expected;
  } cases[] = {
      {22050, 44100, 960, 120, 960}, {11, 44100, 960, 120, 0},
      {12, 44100, 960, 120, 1},      {uint64_t(1) << 33, 44100, 960, 120, 373983547},
      {1000, 1000, 480, 90, 720},
  };
  for (const auto& c : cases)
    EXPECT_EQ(fileTick(c.ticks, options(c.rate, c.ppq, c.bpm)), c.expected)
        << c.ticks << " at " << c.rate << ", " << c.ppq << " ppq, " << c.bpm << " bpm";

  // Events 7 clock ticks apart land 0.3 file ticks apart: summing rounded deltas would drift by
  // whole ticks within a few events, the absolute times never.
  std::vector<std::pair<uint64_t, uint32_t>> list;
  for (uint64_t t = 0; t < 7000; t += 7)
    list.emplace_back(t, 0x00007FB0);
  const MidiConversion midi = toMidi({takeOf(list)}, options(44100));
  const std::vector<SmfEvent> events = channelEvents(roundTrip(midi, 960).tracks.at(0));
  ASSERT_EQ(events.size(), list.size());
  for (size_t i = 0; i < events.size(); ++i)
    EXPECT_EQ(events[i].tick, uint64_t(std::llround(double(list[i].first) * 1920 / 44100))) << i;
}

// One rule for held notes (message.h): a Note On for a key that still sounds ends the earlier
// note there, and the file says so with a Note Off; notes still held at the end close there.
TEST(Tomidi, EndsRestruckAndHeldNotesLeavesOutNonMessagesAndEndsTheTrack) {
  const Take take = takeOf({
      {0, 0x00403C90},   // C4 on
      {10, 0x00403E90},  // D4 on
      {20, 0x00004090},  // E4 "on" with velocity 0: an off for a note never on
      {30, 0x00503C90},  // C4 on again: the first C4 ends here
      {40, 0x00003C80},  // C4 off
      {50, 0x00404191},  // F4 on, channel 2, then off as Note On velocity 0
      {60, 0x00004191},  //
      {70, 0x000000F8},  // system status: left out
      {80, 0x00803C90},  // data byte above 0x7F: left out
      {4410, 0x007F07B0} // the end
  });
  const MidiConversion midi = toMidi({take}, options(44100));
  EXPECT_EQ(midi.closedNotes, 1u);
  EXPECT_EQ(midi.skippedRecords, 2u);
  const std::vector<SmfEvent> events = roundTrip(midi, 960).tracks.at(0).events;
  // name, tempo, 8 messages, the restruck C4's end, D4 closed, End-of-Track
  ASSERT_EQ(events.size(), 2 + 8 + 1 + 1 + 1u);
  const auto again = std::find_if(events.begin(), events.end(), [](const SmfEvent& e) {
    return e.bytes == std::vector<uint8_t>{0x90, 0x3C, 0x50};
  });
  ASSERT_NE(again, events.end());
  EXPECT_EQ((std::vector<uint8_t>{0x80, 0x3C, 0x40}), (again - 1)->bytes);
  EXPECT_EQ(again->tick, (again - 1)->tick);
  // The last event's tick is 192; there the held D4 closes, then the track ends.
  const std::vector<SmfEvent> tail = {
      {192, {0xB0, 0x07, 0x7F}}, {192, {0x80, 0x3E, 0x40}}, {192, {0xFF, 0x2F, 0x00}}};
  for (size_t i = 0; i < tail.size(); ++i) {
    EXPECT_EQ(events[events.size() - tail.size() + i].tick, tail[i].tick) << i;
    EXPECT_EQ(events[events.size() - tail.size() + i].bytes, tail[i].bytes) << i;
  }
}

TEST(Tomidi, OneTrackPerRecordingAndOneTempo) {
  const Take a = takeOf({{0, 0x00403C90}, {100, 0x00003C80}});
  const struct {
    std::vector<Take> takes;
    int format;
  } cases[] = {{{}, 0}, {{a}, 0}, {{a, a, a}, 1}};
  for (const auto& c : cases) {
    const MidiConversion midi = toMidi(c.takes, options(44100, 960, 120));
    EXPECT_EQ(midi.format, c.format);
    const SmfFile file = roundTrip(midi, 960);
    ASSERT_EQ(file.tracks.size(), std::max<size_t>(1, c.takes.size()));
    for (size_t t = 0; t < file.tracks.size(); ++t) {
      const std::vector<SmfEvent>& events = file.tracks[t].events;
      const Bytes tempo120 = {0xFF, 0x51, 3, 0x07, 0xA1, 0x20}; // 500000 us per quarter
      const auto tempos = std::count_if(events.begin(), events.end(), [&](const SmfEvent& e) {
        return e.tick == 0 && e.bytes == tempo120;
      });
      EXPECT_EQ(tempos, t == 0 ? 1 : 0) << "track " << t;
    }
  }
}

TEST(Tomidi, RefusesBadOptions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const MidiOptions cases[] = {options(0),
                               options(-1),
                               options(nan),
                               options(inf),
                               options(44100, 32768),
                               options(44100, 960, 0),
                               options(44100, 960, 3)}; // 3 bpm: a quarter longer than 2^24 us
  for (const MidiOptions& o : cases)
    EXPECT_THROW(toMidi({}, o), std::invalid_argument) << o.rate << " " << o.ppq << " " << o.bpm;
}

TEST(MessageText, DescribesEachKindOfMessage) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0x00403C90, "Note On  ch 1  C4  vel 64"},
      {0x00003C80, "Note Off  ch 1  C4  vel 0"},
      {0x007F7F9F, "Note On  ch 16  G9  vel 127"},
      {0x00223DA2, "Poly Aftertouch  ch 3  C#4  pressure 34"},
      {0x006407B0, "Control Change  ch 1  cc 7  value 100"},
      {0x000005C9, "Program Change  ch 10  program 5"},
      {0x000000E0, "Pitch Bend  ch 1  value -8192"},
      {0x007F7FE0, "Pitch Bend  ch 1  value 8191"},
      {0x000000F8, "raw: system status 0xF8"},
      {0x00803C90, "raw: status 0x90 with a data byte above 0x7F"},
  };
  for (const auto& [word, text] : cases)
    EXPECT_EQ(describeMessage(word), text);
}
