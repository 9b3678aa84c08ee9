#include "smf.h"
#include "temp_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quorb;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes header(uint16_t format, uint16_t tracks, uint16_t division) {
  return {'M',
          'T',
          'h',
          'd',
          0,
          0,
          0,
          6,
          uint8_t(format >> 8),
          uint8_t(format),
          uint8_t(tracks >> 8),
          uint8_t(tracks),
          uint8_t(division >> 8),
          uint8_t(division)};
}

Bytes chunk(const char* id, const Bytes& data) {
  const auto size = uint32_t(data.size());
  Bytes out = {uint8_t(id[0]),      uint8_t(id[1]),      uint8_t(id[2]),     uint8_t(id[3]),
               uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

Bytes smf(const Bytes& head, const std::vector<Bytes>& chunks) {
  Bytes out = head;
  for (const Bytes& c : chunks)
    out.insert(out.end(), c.begin(), c.end());
  return out;
}

SmfEvent tempo(uint64_t tick, uint32_t micros) {
  return {tick, {0xFF, 0x51, 3, uint8_t(micros >> 16), uint8_t(micros >> 8), uint8_t(micros)}};
}

const Bytes END_OF_TRACK = {0xFF, 0x2F, 0x00};

} // namespace

TEST(SmfWriter, WritesExactBytesWithoutRunningStatus) {
  const Bytes bytes = encodeSmf(0, 960, {{{{0, {0x90, 0x3C, 0x40}}, {200, {0x90, 0x3C, 0x00}}}}});
  const Bytes expected =
      smf(header(0, 1, 960), {chunk("MTrk", {0x00, 0x90, 0x3C, 0x40, 0x81, 0x48, 0x90, 0x3C, 0x00,
                                             0x00, 0xFF, 0x2F, 0x00})});
  EXPECT_EQ(bytes, expected);
}

TEST(SmfWriter, RoundTripsThroughTheReader) {
  const std::vector<SmfTrack> tracks = {
      {{tempo(0, 400000), {0, {0xFF, 0x03, 2, 'h', 'i'}}, {5000000, {0xB3, 7, 100}}}},
      {{{0, {0xC1, 5}},
        {1, {0xD1, 0x30}},
        {1, {0xE1, 0x00, 0x40}},
        {300, {0x81, 0x3C, 0x40}},
        {300, {0xA1, 0x3C, 0x22}}}},
  };
  TempFile file("roundtrip.mid");
  writeSmf(file.path(), 1, 480, tracks);
  const SmfFile read = readSmf(file.path());
  EXPECT_EQ(read.format, 1);
  EXPECT_EQ(read.ticksPerQuarter, 480);
  ASSERT_EQ(read.tracks.size(), tracks.size());
  for (size_t t = 0; t < tracks.size(); ++t) {
    std::vector<SmfEvent> expected = tracks[t].events;
    expected.push_back({expected.back().tick, END_OF_TRACK});
    ASSERT_EQ(read.tracks[t].events.size(), expected.size()) << "track " << t;
    for (size_t e = 0; e < expected.size(); ++e) {
      EXPECT_EQ(read.tracks[t].events[e].tick, expected[e].tick) << "track " << t << " event " << e;
      EXPECT_EQ(read.tracks[t].events[e].bytes, expected[e].bytes)
          << "track " << t << " event " << e;
    }
  }
  // A track read back already ends with End-of-Track; writing it again must not double it.
  EXPECT_EQ(encodeSmf(1, 480, read.tracks), file.read());
}

TEST(SmfWriter, RefusesWhatIsNotAValidFile) {
  const SmfTrack note = {{{0, {0x90, 60, 64}}}};
  const struct {
    const char* name;
    int format;
    uint16_t division;
    std::vector<SmfTrack> tracks;
  } cases[] = {
      {"format 2", 2, 96, {note}},
      {"format 0 with two tracks", 0, 96, {note, note}},
      {"no tracks", 1, 96, {}},
      {"zero division", 0, 0, {note}},
      {"SMPTE division", 0, 0xE728, {note}},
      {"ticks backwards", 0, 96, {{{{10, {0x90, 60, 64}}, {9, {0x80, 60, 0}}}}}},
      {"delta too long", 0, 96, {{{{0x10000000, {0x90, 60, 64}}}}}},
      {"running status", 0, 96, {{{{0, {0x90, 60, 64}}, {1, {60, 0}}}}}},
      {"short channel message", 0, 96, {{{{0, {0x90, 60}}}}}},
      {"data byte with high bit", 0, 96, {{{{0, {0xB0, 0x80, 1}}}}}},
      {"system exclusive", 0, 96, {{{{0, {0xF0, 1, 0xF7}}}}}},
      {"meta length mismatch", 0, 96, {{{{0, {0xFF, 0x01, 5, 'a'}}}}}},
      {"End-of-Track not last", 0, 96, {{{{0, END_OF_TRACK}, {1, {0x90, 60, 64}}}}}},
      {"empty event", 0, 96, {{{{0, {}}}}}},
  };
  for (const auto& c : cases)
    EXPECT_THROW(encodeSmf(c.format, c.division, c.tracks), SmfError) << c.name;
}

TEST(SmfReader, ResolvesRunningStatusAndSkipsSystemExclusive) {
  const Bytes bytes =
      smf(header(0, 1, 96), {chunk("MTrk", {0x00, 0x90, 0x3C, 0x40,       // Note On
                                            0x60, 0x3C, 0x00,             // running status
                                            0x00, 0xF0, 0x02, 0x7E, 0xF7, // sysex
                                            0x00, 0xFF, 0x01, 0x01, 'x',  // text
                                            0x10, 0x3E, 0x41,             // still running
                                            0x00, 0xC2, 0x05, 0x00, 0x06, // one data byte each
                                            0x00, 0xFF, 0x2F, 0x00})});
  const std::vector<TimedMessage> messages = timedChannelMessages(parseSmf(bytes));
  const std::vector<uint32_t> words = {packMessage(0x90, 0x3C, 0x40), packMessage(0x90, 0x3C, 0),
                                       packMessage(0x90, 0x3E, 0x41), packMessage(0xC2, 5, 0),
                                       packMessage(0xC2, 6, 0)};
  const std::vector<double> seconds = {0, 0.5, 0.5 + 16 / 192.0, 0.5 + 16 / 192.0,
                                       0.5 + 16 / 192.0};
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
  TempFile file("tempo.mid");
  writeSmf(file.path(), 1, 960, tracks);
  const std::vector<TimedMessage> messages = readChannelMessages(file.path());
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

TEST(SmfReader, SkipsUnknownChunksAndStopsAtEndOfTrack) {
  const Bytes bytes =
      smf(header(0, 1, 96), {chunk("XFIH", {1, 2, 3}),
                             chunk("MTrk", {0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00, 0x00,
                                            0x80, 0x3C, 0x40})}); // after End-of-Track
  const SmfFile file = parseSmf(bytes);
  ASSERT_EQ(file.tracks.size(), 1u);
  ASSERT_EQ(file.tracks[0].events.size(), 2u);
  EXPECT_EQ(file.tracks[0].events[1].bytes, END_OF_TRACK);
}

TEST(SmfReader, EveryTruncationIsAnErrorNotACrash) {
  const Bytes whole = encodeSmf(1, 96,
                                {{{tempo(0, 600000), {0, {0xFF, 0x03, 1, 'a'}}}},
                                 {{{0, {0x90, 60, 64}}, {300, {0x80, 60, 0}}}}});
  ASSERT_NO_THROW(parseSmf(whole));
  for (size_t length = 0; length < whole.size(); ++length) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_THROW(parseSmf(cut), SmfError) << "cut at " << length;
  }
}

TEST(SmfReader, AnyCorruptedByteIsReadOrRefused) {
  const Bytes whole = encodeSmf(1, 96,
                                {{{tempo(0, 600000), {0, {0xFF, 0x03, 1, 'a'}}}},
                                 {{{0, {0x90, 60, 64}}, {300, {0xC0, 5}}, {400, {0x80, 60, 0}}}}});
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
  const Bytes head = header(0, 1, 96);
  const struct {
    const char* name;
    Bytes bytes;
    const char* message;
  } cases[] = {
      {"not an SMF", {'R', 'I', 'F', 'F', 0, 0, 0, 0}, "no MThd header at byte 0"},
      {"format 2", smf(header(2, 1, 96), {chunk("MTrk", {})}), "format 2"},
      {"SMPTE", smf(header(0, 1, 0xE728), {chunk("MTrk", {})}), "SMPTE time division"},
      {"chunk past end", smf(head, {Bytes{'M', 'T', 'r', 'k', 0, 0, 1, 0, 0}}),
       "chunk runs past the end of the file at byte 14"},
      {"data without status", smf(head, {chunk("MTrk", {0x00, 0x3C, 0x40})}),
       "data byte without a status at byte 23"},
      {"status as data", smf(head, {chunk("MTrk", {0x00, 0x90, 0x3C, 0x90})}),
       "status byte where a data byte belongs at byte 25"},
      {"five-byte delta", smf(head, {chunk("MTrk", {0x81, 0x81, 0x81, 0x81, 0x01})}),
       "longer than four bytes at byte 22"},
      {"event past chunk", smf(head, {chunk("MTrk", {0x00, 0x90, 0x3C}), chunk("MTrk", {})}),
       "unexpected end of data"},
      {"meta past chunk", smf(head, {chunk("MTrk", {0x00, 0xFF, 0x01, 0x05, 'a'})}),
       "meta event runs past the end of its chunk"},
      {"bad tempo", smf(head, {chunk("MTrk", {0x00, 0xFF, 0x51, 0x02, 1, 2})}), "tempo event"},
      {"real-time status", smf(head, {chunk("MTrk", {0x00, 0xF8})}),
       "real-time or common status in a track at byte 23"},
      {"missing track", smf(header(1, 2, 96), {chunk("MTrk", {})}),
       "header announces 2 tracks, file holds 1"},
  };
  for (const auto& c : cases) {
    try {
      parseSmf(c.bytes);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const SmfError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
          << c.name << ": " << error.what();
    }
  }
}

TEST(SmfReader, MissingFileIsAnError) {
  TempFile missing("missing.mid");
  EXPECT_THROW(readChannelMessages(missing.path()), SmfError);
}
