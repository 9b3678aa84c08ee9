#include "scratch_dir.h"
#include "smf.h"
#include "smf_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quorb;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes header(uint16_t format, uint16_t tracks, uint16_t division) {
  Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
  for (const uint16_t field : {format, tracks, division})
    out.insert(out.end(), {uint8_t(field >> 8), uint8_t(field)});
  return out;
}

// The header followed by one chunk per entry of `chunks`, each {id, data}.
Bytes smf(Bytes out, const std::vector<std::pair<std::string, Bytes>>& chunks) {
  for (const auto& [id, data] : chunks) {
    const auto size = uint32_t(data.size());
    out.insert(out.end(), id.begin(), id.end());
    out.insert(out.end(),
               {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)});
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}

SmfEvent tempo(uint64_t tick, uint32_t micros) {
  return {tick, {0xFF, 0x51, 3, uint8_t(micros >> 16), uint8_t(micros >> 8), uint8_t(micros)}};
}

const Bytes END_OF_TRACK = {0xFF, 0x2F, 0x00};

// A file through quorb's writer: each track's events encoded in order, then End-of-Track.
Bytes encode(int format, uint16_t division, const std::vector<SmfTrack>& tracks) {
  std::vector<Bytes> data;
  for (const SmfTrack& track : tracks) {
    TrackEncoder encoder;
    for (const SmfEvent& event : track.events)
      encoder.add(event.tick, event.bytes);
    encoder.end();
    data.push_back(encoder.data());
  }
  return smfBytes(format, division, data);
}

} // namespace

TEST(SmfWriter, WritesEveryStatusAndEndsTheTrack) {
  const Bytes bytes = encode(0, 960, {{{{0, {0x90, 0x3C, 0x40}}, {200, {0x90, 0x3C, 0x00}}}}});
  EXPECT_EQ(bytes, smf(header(0, 1, 960), {{"MTrk",
                                            {0x00, 0x90, 0x3C, 0x40, 0x81, 0x48, 0x90, 0x3C, 0x00,
                                             0x00, 0xFF, 0x2F, 0x00}}}));
}

TEST(SmfWriter, RoundTripsThroughTheReader) {
  const std::vector<SmfTrack> tracks = {
      {{tempo(0, 400000), {0, {0xFF, 0x03, 2, 'h', 'i'}}, {5000000, {0xB3, 7, 100}}}},
      {{{0, {0xC1, 5}}, {1, {0xE1, 0x00, 0x40}}, {300, {0x81, 0x3C, 0x40}}}},
  };
  ScratchDir dir;
  const std::string path = dir.path("roundtrip.mid");
  writeBytes(path, encode(1, 480, tracks));
  const SmfFile read = readSmf(path);
  EXPECT_EQ(read.format, 1);
  EXPECT_EQ(read.ticksPerQuarter, 480);
  ASSERT_EQ(read.tracks.size(), tracks.size());
  for (size_t t = 0; t < tracks.size(); ++t) {
    std::vector<SmfEvent> expected = tracks[t].events;
    expected.push_back({expected.back().tick, END_OF_TRACK});
    ASSERT_EQ(read.tracks[t].events.size(), expected.size()) << "track " << t;
    for (size_t e = 0; e < expected.size(); ++e) {
      EXPECT_EQ(read.tracks[t].events[e].tick, expected[e].tick) << t << ", " << e;
      EXPECT_EQ(read.tracks[t].events[e].bytes, expected[e].bytes) << t << ", " << e;
    }
  }
}

TEST(SmfWriter, CarriesGapsLongerThanOneDeltaTime) {
  const uint64_t ticks[] = {0, TrackEncoder::MAX_DELTA, TrackEncoder::MAX_DELTA + 1,
                            3 * uint64_t(TrackEncoder::MAX_DELTA) + 7};
  SmfTrack track;
  for (const uint64_t tick : ticks)
    track.events.push_back({tick, {0x90, 60, 64}});
  const SmfFile read = parseSmf(encode(0, 96, {track}));
  std::vector<uint64_t> channel;
  size_t fillers = 0;
  for (const SmfEvent& event : read.tracks.at(0).events) {
    if (event.bytes[0] == 0x90) channel.push_back(event.tick);
    if (event.bytes == Bytes{0xFF, 0x01, 0x00}) ++fillers;
  }
  EXPECT_EQ(channel, std::vector<uint64_t>(std::begin(ticks), std::end(ticks)));
  EXPECT_EQ(fillers, 2u); // a gap of exactly MAX_DELTA needs none, one of 2 MAX_DELTA + 6 two
}

TEST(SmfWriter, RefusesWhatIsNotAValidFile) {
  const SmfTrack note = {{{0, {0x90, 60, 64}}}};
  const struct {
    const char* name;
    int format;
    uint16_t division;
    std::vector<SmfTrack> tracks;
  } cases[] = {
      {"format 0 with two tracks", 0, 96, {note, note}},
      {"SMPTE division", 0, 0xE728, {note}},
      {"format 2", 2, 96, {note}},
      {"ticks backwards", 0, 96, {{{{10, {0x90, 60, 64}}, {9, {0x80, 60, 0}}}}}},
  };
  for (const auto& c : cases)
    EXPECT_THROW(encode(c.format, c.division, c.tracks), SmfError) << c.name;
}

TEST(SmfReader, ResolvesRunningStatusAndSkipsWhatItDoesNotRead) {
  const Bytes bytes =
      smf(header(0, 1, 96), {{"XFIH", {1, 2, 3}},                    // unknown chunk
                             {"MTrk", {0x00, 0x90, 0x3C, 0x40,       // Note On
                                       0x60, 0x3C, 0x00,             // running status
                                       0x00, 0xF0, 0x02, 0x7E, 0xF7, // sysex
                                       0x10, 0x3E, 0x41,             // still running
                                       0x00, 0xC2, 0x05, 0x00, 0x06, // one data byte each
                                       0x00, 0xFF, 0x2F, 0x00,       // End-of-Track
                                       0x00, 0x80, 0x3C, 0x40}}});   // not part of the track
  const std::vector<TimedMessage> messages = timedChannelMessages(parseSmf(bytes));
  const std::vector<uint32_t> words = {packMessage(0x90, 0x3C, 0x40), packMessage(0x90, 0x3C, 0),
                                       packMessage(0x90, 0x3E, 0x41), packMessage(0xC2, 5, 0),
                                       packMessage(0xC2, 6, 0)};
  const double last = 0.5 + 16 / 192.0;
  const std::vector<double> seconds = {0, 0.5, last, last, last};
  ASSERT_EQ(messages.size(), words.size());
  for (size_t i = 0; i < words.size(); ++i) {
    EXPECT_EQ(messages[i].word, words[i]) << i;
    EXPECT_DOUBLE_EQ(messages[i].seconds, seconds[i]) << i;
  }
}

TEST(SmfReader, HonoursTempoChangesFromAnyTrackAndMergesInOrder) {
  // Tempo lives in track 1, notes in tracks 2 and 3. At 960 per quarter: 0.5 s per quarter up to
  // tick 960, then 0.25 s per quarter, then 1 s per quarter from tick 2880.
  const std::vector<SmfTrack> tracks = {
      {{tempo(0, 500000), tempo(960, 250000), tempo(2880, 1000000)}},
      {{{480, {0x90, 1, 1}}, {960, {0x90, 2, 1}}, {1920, {0x90, 3, 1}}, {3840, {0x90, 4, 1}}}},
      {{{0, {0x91, 9, 1}}, {960, {0x91, 10, 1}}, {960, {0x91, 11, 1}}}},
  };
  ScratchDir dir;
  const std::string path = dir.path("tempo.mid");
  writeBytes(path, encode(1, 960, tracks));
  const std::vector<TimedMessage> messages = readChannelMessages(path);
  const struct {
    uint8_t status;
    uint8_t note;
    double seconds;
  } expected[] = {{0x91, 9, 0},    {0x90, 1, 0.25}, {0x90, 2, 0.5}, {0x91, 10, 0.5},
                  {0x91, 11, 0.5}, {0x90, 3, 0.75}, {0x90, 4, 2.0}};
  ASSERT_EQ(messages.size(), std::size(expected));
  for (size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i].word, packMessage(expected[i].status, expected[i].note, 1)) << i;
    EXPECT_NEAR(messages[i].seconds, expected[i].seconds, 1e-9) << i;
  }
}

// Run under the sanitizers, this also shows that no damage makes the reader leave its buffer.
TEST(SmfReader, TruncatedOrCorruptedFilesAreReadOrRefused) {
  const Bytes whole = encode(1, 96,
                             {{{tempo(0, 600000), {0, {0xFF, 0x03, 1, 'a'}}}},
                              {{{0, {0x90, 60, 64}}, {300, {0xC0, 5}}, {400, {0x80, 60, 0}}}}});
  for (size_t length = 0; length < whole.size(); ++length)
    EXPECT_THROW(parseSmf(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(length))), SmfError)
        << "cut at " << length;
  for (size_t at = 0; at < whole.size(); ++at) {
    for (const uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xF0, 0xFF}) {
      Bytes damaged = whole;
      damaged[at] = value;
      try {
        parseSmf(damaged);
      } catch (const SmfError&) {
      }
    }
  }
}

TEST(SmfReader, NamesWhatIsWrongAndWhere) {
  const Bytes head = header(0, 1, 96); // 14 bytes; a track's data starts at byte 22
  const struct {
    Bytes bytes;
    const char* message;
  } cases[] = {
      {{'R', 'I', 'F', 'F', 0, 0, 0, 0}, "no MThd header at byte 0"},
      {smf(header(2, 1, 96), {{"MTrk", {}}}), "format 2"},
      {smf(header(0, 1, 0xE728), {{"MTrk", {}}}), "SMPTE time division"},
      {smf(head, {{"MTrk", {0x00, 0x3C, 0x40}}}), "data byte without a status at byte 23"},
      {smf(head, {{"MTrk", {0x00, 0x90, 0x3C, 0x90}}}), "where a data byte belongs at byte 25"},
      {smf(head, {{"MTrk", {0x81, 0x81, 0x81, 0x81, 0x01}}}), "longer than four bytes at byte 22"},
      {smf(head, {{"MTrk", {0x00, 0xFF, 0x01, 0x05, 'a'}}}), "runs past the end of its chunk"},
      {smf(head, {{"MTrk", {0x00, 0xF8}}}), "common status in a track at byte 23"},
      {smf(header(1, 2, 96), {{"MTrk", {}}}), "header announces 2 tracks, file holds 1"},
  };
  for (const auto& c : cases) {
    try {
      parseSmf(c.bytes);
      ADD_FAILURE() << c.message << ": no error";
    } catch (const SmfError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
}
