#include "files.h"
#include "recording.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace quorb;

namespace {

using Bytes = std::vector<uint8_t>;
using Kind = RecordingWarning::Kind;
constexpr uint64_t WRAP = uint64_t(1) << 32;
constexpr uint32_t NOTE_ON = 0x00403C90;

Bytes records(const std::vector<std::pair<uint32_t, uint32_t>>& timeAndMessage) {
  Bytes out;
  for (const auto& [time, message] : timeAndMessage)
    for (const uint32_t word : {time, message})
      for (int shift = 0; shift < 32; shift += 8)
        out.push_back(uint8_t(word >> shift));
  return out;
}

Bytes times(const std::vector<uint32_t>& stamps) {
  std::vector<std::pair<uint32_t, uint32_t>> list;
  for (const uint32_t time : stamps)
    list.emplace_back(time, NOTE_ON);
  return records(list);
}

std::vector<Kind> kinds(const RecordingFile& file) {
  std::vector<Kind> out;
  for (const RecordingWarning& warning : file.warnings)
    out.push_back(warning.kind);
  return out;
}

} // namespace

TEST(RecordingReader, ReadsWhatIsWholeAndSaysWhereDamageStarts) {
  const RecordingFile empty = parseRecording({});
  EXPECT_EQ(empty.totals.records, 0u);
  EXPECT_TRUE(empty.takes.empty());
  EXPECT_TRUE(empty.warnings.empty());

  for (const size_t extra : {1, 7}) {
    Bytes bytes = times({0, 10});
    bytes.insert(bytes.end(), extra, 0x90);
    const RecordingFile file = parseRecording(bytes);
    EXPECT_EQ(file.totals.records, 2u) << extra;
    ASSERT_EQ(kinds(file), std::vector<Kind>{Kind::Damage}) << extra;
    EXPECT_EQ(file.warnings[0].offset, 16u);
    EXPECT_NE(file.warnings[0].text.find("byte 16"), std::string::npos) << file.warnings[0].text;
  }
}

TEST(RecordingReader, SplitsRecordingsAndUnwrapsTheClock) {
  const struct {
    const char* name;
    std::vector<uint32_t> stamps;
    std::vector<std::vector<uint64_t>> ticks; // per recording
  } cases[] = {
      {"two takes", {0, 100, 200, 3, 50}, {{0, 100, 200}, {3, 50}}},
      {"wrap", {0xFFFFFFF0, 0x10, 0x20}, {{0xFFFFFFF0, WRAP + 0x10, WRAP + 0x20}}},
      {"wrap at the quarter edges", {0xC0000000, 0x3FFFFFFF}, {{0xC0000000, WRAP + 0x3FFFFFFF}}},
      {"below the top quarter is a new recording", {0xBFFFFFFF, 0x10}, {{0xBFFFFFFF}, {0x10}}},
      {"above the bottom quarter is a new recording",
       {0xC0000000, 0x40000000},
       {{0xC0000000}, {0x40000000}}},
      {"two wraps",
       {0xF0000000, 5, 0xF0000000, 7},
       {{0xF0000000, WRAP + 5, WRAP + 0xF0000000, 2 * WRAP + 7}}},
      {"a new recording forgets the wraps",
       {0xF0000000, 5, 6, 3, 4},
       {{0xF0000000, WRAP + 5, WRAP + 6}, {3, 4}}},
      {"pause end: one record ahead", {0, 100, 700, 150, 200}, {{0, 100, 700, 150, 200}}},
      {"pause end: a chord ahead", {0, 100, 700, 700, 100}, {{0, 100, 700, 700, 100}}},
      {"below the record before the run: new recording", {0, 100, 700, 99}, {{0, 100, 700}, {99}}},
      {"no record before the run: new recording", {500, 500, 10}, {{500, 500}, {10}}},
  };
  for (const auto& c : cases) {
    const RecordingFile file = parseRecording(times(c.stamps));
    ASSERT_EQ(file.takes.size(), c.ticks.size()) << c.name;
    size_t index = 0;
    for (size_t r = 0; r < c.ticks.size(); ++r) {
      const std::vector<RecordedEvent>& events = file.takes[r].events;
      ASSERT_EQ(events.size(), c.ticks[r].size()) << c.name << ", recording " << r;
      for (size_t e = 0; e < events.size(); ++e, ++index) {
        EXPECT_EQ(events[e].ticks, c.ticks[r][e]) << c.name << ", record " << index;
        EXPECT_EQ(events[e].index, index) << c.name;
        EXPECT_EQ(events[e].time, c.stamps[index]) << c.name;
      }
    }
  }
}

TEST(RecordingReader, RecordsStampedAsAPauseEndedAreFlaggedAndPlaced) {
  const RecordingFile file = parseRecording(times({0, 100, 700, 700, 150, 200}));
  ASSERT_EQ(file.takes.size(), 1u);
  const std::vector<RecordedEvent>& events = file.takes[0].events;
  const std::vector<bool> ahead = {false, false, true, true, false, false};
  const std::vector<uint64_t> placed = {0, 100, 150, 150, 150, 200};
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].ahead, ahead[i]) << i;
    EXPECT_EQ(events[i].placedTicks, placed[i]) << i;
  }
  ASSERT_EQ(kinds(file), std::vector<Kind>{Kind::TimeBackwards});
  EXPECT_EQ(file.warnings[0].offset, 32u);
  EXPECT_EQ(file.takes[0].durationTicks(), 700u);
}

TEST(RecordingReader, WarnsAboutSystemStatusButKeepsTheRecord) {
  const RecordingFile file =
      parseRecording(records({{0, NOTE_ON}, {5, 0xF8}, {6, 0x0000F0}, {7, 0x00FE}, {8, 0x00E0}}));
  ASSERT_EQ(kinds(file),
            (std::vector<Kind>{Kind::SystemStatus, Kind::SystemStatus, Kind::SystemStatus}));
  EXPECT_EQ(file.warnings[0].offset, 12u); // the message word of record 1
  EXPECT_NE(file.warnings[0].text.find("0xF8"), std::string::npos);
  EXPECT_EQ(file.takes.at(0).events.size(), 5u);
}

TEST(RecordingReader, RefusesWhatIsNotARecording) {
  EXPECT_THROW(parseRecording({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96}), RecordingError);
  EXPECT_THROW(parseRecording(records({{0, 0x41}, {1, 0xF8}})), RecordingError);
}

TEST(RecordingReader, ReadsFilesInBinary) {
  // Carriage return, line feed and Ctrl-Z bytes would be mangled by a text-mode read on Windows.
  const Bytes bytes = records({{0x0A0D1A00, 0x000A0D90}, {0x0A0D1A01, 0x001A1A80}});
  ScratchDir dir;
  const std::string path = dir.path("binary.quorb");
  writeBytes(path, bytes);
  const RecordingFile read = parseRecording(readWholeFile(path, "recording"));
  ASSERT_EQ(read.totals.records, 2u);
  EXPECT_EQ(read.takes.at(0).events.at(1).message, 0x001A1A80u);
  EXPECT_EQ(read.takes.at(0).events.at(1).time, 0x0A0D1A01u);
}
