#include "message_text.h"
#include "recording.h"
#include "smf.h"
#include "to_midi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace quorb;

namespace {

using Bytes = std::vector<uint8_t>;

Recording recording(const std::vector<std::pair<uint64_t, uint32_t>>& ticksAndMessage) {
  Recording out;
  for (const auto& [ticks, message] : ticksAndMessage)
    out.events.push_back({out.events.size(), uint32_t(ticks), message, ticks, false, ticks});
  return out;
}

MidiOptions options(double rate, uint16_t ppq = 960, double bpm = 120) {
  MidiOptions o;
  o.rate = rate;
  o.ppq = ppq;
  o.bpm = bpm;
  return o;
}

// What a reader sees: the conversion written out and parsed back.
SmfFile roundTrip(const MidiConversion& midi, uint16_t ppq) {
  return parseSmf(encodeSmf(midi.format, ppq, midi.tracks));
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
      {44100, 44100, 960, 120, 1920}, {22050, 44100, 960, 120, 960},
      {11, 44100, 960, 120, 0},       {12, 44100, 960, 120, 1}, // 0.479 and 0.522 ticks
      {48000, 48000, 96, 60, 96},     {uint64_t(1) << 33, 44100, 960, 120, 373983547},
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
  const MidiConversion midi = toMidi({recording(list)}, options(44100));
  const std::vector<SmfEvent> events = channelEvents(roundTrip(midi, 960).tracks.at(0));
  ASSERT_EQ(events.size(), list.size());
  for (size_t i = 0; i < events.size(); ++i)
    EXPECT_EQ(events[i].tick, uint64_t(std::llround(double(list[i].first) * 1920 / 44100))) << i;
}

TEST(Tomidi, ClosesHeldNotesAtTheEndAndEndsEveryTrackOnce) {
  const Recording take = recording({
      {0, 0x00403C90},   // C4 on
      {10, 0x00403E90},  // D4 on
      {20, 0x00004090},  // E4 "on" with velocity 0: an off for a note never on
      {30, 0x00503C90},  // C4 on again, stacked
      {40, 0x00003C80},  // one C4 off
      {50, 0x00404191},  // F4 on, channel 2
      {60, 0x00004191},  // F4 off as Note On velocity 0
      {4410, 0x007F07B0} // the end
  });
  const MidiConversion midi = toMidi({take}, options(44100));
  EXPECT_EQ(midi.closedNotes, 2u);
  const SmfFile file = roundTrip(midi, 960);
  ASSERT_EQ(file.tracks.size(), 1u);
  const std::vector<SmfEvent>& events = file.tracks[0].events;
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events.back().bytes, (Bytes{0xFF, 0x2F, 0x00}));
  for (size_t i = 0; i + 1 < events.size(); ++i)
    EXPECT_NE(events[i].bytes[1], 0x2F) << i;
  // Before End-of-Track: the two closing Note Offs, C4 then D4, at the last event's tick.
  const SmfEvent& closeC = events[events.size() - 3];
  const SmfEvent& closeD = events[events.size() - 2];
  EXPECT_EQ(closeC.bytes, (Bytes{0x80, 0x3C, 0x40}));
  EXPECT_EQ(closeD.bytes, (Bytes{0x80, 0x3E, 0x40}));
  EXPECT_EQ(closeC.tick, 192u);
  EXPECT_EQ(closeD.tick, 192u);
  EXPECT_EQ(events.back().tick, 192u);
}

TEST(Tomidi, OneTrackPerRecordingAndOneTempo) {
  const Recording a = recording({{0, 0x00403C90}, {100, 0x00003C80}});
  const Recording b = recording({{5, 0x00C0}});
  const struct {
    const char* name;
    std::vector<Recording> recordings;
    int format;
    size_t tracks;
  } cases[] = {{"none", {}, 0, 1}, {"one", {a}, 0, 1}, {"three", {a, b, a}, 1, 3}};
  for (const auto& c : cases) {
    const MidiConversion midi = toMidi(c.recordings, options(44100, 960, 120));
    EXPECT_EQ(midi.format, c.format) << c.name;
    const SmfFile file = roundTrip(midi, 960);
    ASSERT_EQ(file.tracks.size(), c.tracks) << c.name;
    size_t tempos = 0;
    for (size_t t = 0; t < file.tracks.size(); ++t)
      for (const SmfEvent& event : file.tracks[t].events)
        if (event.bytes[0] == 0xFF && event.bytes[1] == 0x51) {
          ++tempos;
          EXPECT_EQ(t, 0u) << c.name;
          EXPECT_EQ(event.tick, 0u) << c.name;
          EXPECT_EQ(event.bytes, (Bytes{0xFF, 0x51, 3, 0x07, 0xA1, 0x20})) << c.name; // 500000 us
        }
    EXPECT_EQ(tempos, 1u) << c.name;
  }
}

TEST(Tomidi, LeavesOutWhatIsNotAChannelMessageAndKeepsOrder) {
  Recording take = recording({{0, 0x00403C90},
                              {10, 0x000000F8},   // system status
                              {20, 0x00000041},   // no status byte
                              {30, 0x00803C90},   // data byte above 0x7F
                              {700, 0x00403E90},  // stamped as a pause ended ...
                              {40, 0x00003C80}}); // ... so it is placed here
  take.events[4].ahead = true;
  take.events[4].placedTicks = 40;
  const MidiConversion midi = toMidi({take}, options(10, 10, 60)); // one file tick per clock tick
  EXPECT_EQ(midi.skippedRecords, 3u);
  const std::vector<SmfEvent> events = channelEvents(roundTrip(midi, 10).tracks.at(0));
  ASSERT_EQ(events.size(), 4u); // C4 on, D4 on, C4 off, D4 closed
  EXPECT_EQ(events[1].bytes, (Bytes{0x90, 0x3E, 0x40}));
  EXPECT_EQ(events[1].tick, 40u);
  EXPECT_EQ(events[2].tick, 40u);
}

TEST(Tomidi, RefusesBadOptions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const MidiOptions cases[] = {options(0),
                               options(-44100),
                               options(nan),
                               options(inf),
                               options(44100, 0),
                               options(44100, 32768),
                               options(44100, 960, 0),
                               options(44100, 960, -1),
                               options(44100, 960, 3),
                               options(44100, 960, nan)};
  for (const MidiOptions& o : cases)
    EXPECT_THROW(toMidi({}, o), std::invalid_argument) << o.rate << " " << o.ppq << " " << o.bpm;
}

TEST(MessageText, DescribesEachKindOfMessage) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0x00403C90, "Note On  ch 1  C4  vel 64"},
      {0x00003C80, "Note Off  ch 1  C4  vel 0"},
      {0x0000009F, "Note On  ch 16  C-1  vel 0"},
      {0x007F7F9F, "Note On  ch 16  G9  vel 127"},
      {0x00223DA2, "Poly Aftertouch  ch 3  C#4  pressure 34"},
      {0x006407B0, "Control Change  ch 1  cc 7  value 100"},
      {0x000005C9, "Program Change  ch 10  program 5"},
      {0x000030D0, "Channel Pressure  ch 1  pressure 48"},
      {0x004000E0, "Pitch Bend  ch 1  value 0"},
      {0x000000E0, "Pitch Bend  ch 1  value -8192"},
      {0x007F7FE0, "Pitch Bend  ch 1  value 8191"},
      {0x000000F8, "raw: system status 0xF8"},
      {0x00000041, "raw: no status byte (0x41)"},
      {0x00803C90, "raw: status 0x90 with a data byte above 0x7F"},
  };
  for (const auto& [word, text] : cases)
    EXPECT_EQ(describeMessage(word), text);
}
