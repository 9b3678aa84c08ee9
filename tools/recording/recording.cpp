#include "recording.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace quorb {

const char* const RECORDING_BOUNDARY_RULE =
    "Nothing in a .quorb file marks where one recording ends and the next begins. The first\n"
    "record starts a recording; after that a record starts a new recording when its time is\n"
    "smaller than the previous record's time, except in two cases, which keep it in the current\n"
    "recording:\n"
    "  wrap:  the previous time is 0xC0000000 or more and this one is below 0x40000000: the\n"
    "         32-bit clock wrapped, and 2^32 is added to this and every later time of the\n"
    "         recording;\n"
    "  pause: this time is not smaller than the time of the last earlier record of the\n"
    "         recording whose time differs from the previous record's (both times with the\n"
    "         recording's 2^32 additions so far). The records at the previous time then stand\n"
    "         alone ahead of both neighbours, which is how messages that arrive as a pause ends\n"
    "         are stamped (they carry the pause's length). They are reported as time going\n"
    "         backwards, and tomidi places them at the time of the first record after them.\n"
    "Limits: a new recording is missed, and read as going on, when its first time is not\n"
    "smaller than the last time of the recording before it, or when the pause case fits it\n"
    "(the recording before ends on records sharing one time, and the new first time is not\n"
    "smaller than the time before those). A message that arrived after a file was chosen but\n"
    "before its recording started carries a time from the earlier time base; it reads as the\n"
    "end of the recording before it (at the start of a file, as a recording of its own).\n";

namespace {

constexpr uint64_t WRAP = uint64_t(1) << 32;
constexpr size_t RECORD_SIZE = 8;

uint32_t littleEndian(const std::vector<uint8_t>& bytes, size_t at) {
  return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
         uint32_t(bytes[at + 3]) << 24;
}

std::string hex(uint32_t value, int digits) {
  std::ostringstream text;
  text << "0x" << std::uppercase << std::hex;
  text.width(digits);
  text.fill('0');
  text << value;
  return text.str();
}

// Placed ticks: an ahead record takes the ticks of the first record after it that is not ahead.
void placeAheadRecords(Recording& recording) {
  bool haveNext = false;
  uint64_t next = 0;
  for (auto it = recording.events.rbegin(); it != recording.events.rend(); ++it) {
    if (!it->ahead) {
      haveNext = true;
      next = it->ticks;
    }
    it->placedTicks = it->ahead && haveNext ? next : it->ticks;
  }
}

} // namespace

uint64_t Recording::durationTicks() const {
  uint64_t longest = 0;
  for (const RecordedEvent& event : events)
    longest = std::max(longest, event.ticks);
  return longest;
}

RecordingFile parseRecording(const std::vector<uint8_t>& bytes) {
  static const char SMF_SIGNATURE[] = {'M', 'T', 'h', 'd'};
  if (bytes.size() >= 4 && std::equal(bytes.begin(), bytes.begin() + 4, SMF_SIGNATURE))
    throw RecordingError("a Standard MIDI File, not a recording");

  RecordingFile file;
  file.recordCount = bytes.size() / RECORD_SIZE;
  bool anyChannelMessage = false;

  uint64_t wrapOffset = 0; // added to the stored times of the current recording
  uint32_t previousTime = 0;
  uint64_t previousTicks = 0;
  // The run: the records at the end of the current recording that share previousTicks; before
  // the run stands the last record with other ticks, if the recording has one.
  size_t runStart = 0;
  bool haveBeforeRun = false;
  uint64_t beforeRunTicks = 0;

  for (size_t i = 0; i < file.recordCount; ++i) {
    const size_t offset = i * RECORD_SIZE;
    const uint32_t time = littleEndian(bytes, offset);
    const uint32_t message = littleEndian(bytes, offset + 4);
    const uint32_t status = message & 0xFF;
    if (isSystemStatus(message)) {
      file.warnings.push_back({RecordingWarning::Kind::SystemStatus, offset + 4,
                               "record " + std::to_string(i) + " at byte " +
                                   std::to_string(offset) + " has system status " + hex(status, 2) +
                                   ", which the recorder never writes: the file was altered"});
    }
    if (status >= 0x80 && status < 0xF0) anyChannelMessage = true;

    bool startsRecording = file.recordings.empty();
    if (!startsRecording && time < previousTime) {
      if (previousTime >= WRAP_HIGH_QUARTER && time < WRAP_LOW_QUARTER) {
        wrapOffset += WRAP;
      } else if (haveBeforeRun && wrapOffset + time >= beforeRunTicks) {
        Recording& current = file.recordings.back();
        for (size_t r = runStart; r < current.events.size(); ++r)
          current.events[r].ahead = true;
        file.warnings.push_back({RecordingWarning::Kind::TimeBackwards, offset,
                                 "time goes backwards at record " + std::to_string(i) + " (byte " +
                                     std::to_string(offset) + "): " + std::to_string(time) +
                                     " after " + std::to_string(previousTime) +
                                     "; read as stamped at the end of a pause, " +
                                     "still recording " + std::to_string(file.recordings.size())});
      } else {
        startsRecording = true;
      }
    }
    if (startsRecording) {
      file.recordings.emplace_back();
      wrapOffset = 0;
      haveBeforeRun = false;
      runStart = 0;
    }
    Recording& current = file.recordings.back();
    const uint64_t ticks = wrapOffset + time;
    if (!current.events.empty() && ticks != previousTicks) {
      haveBeforeRun = true;
      beforeRunTicks = previousTicks;
      runStart = current.events.size();
    }
    current.events.push_back({i, time, message, ticks, false, ticks});
    previousTime = time;
    previousTicks = ticks;
  }

  if (file.recordCount > 0 && !anyChannelMessage)
    throw RecordingError("not a recording: none of its " + std::to_string(file.recordCount) +
                         " records holds a MIDI channel message");
  for (Recording& recording : file.recordings)
    placeAheadRecords(recording);

  const size_t trailing = bytes.size() % RECORD_SIZE;
  if (trailing != 0) {
    const size_t offset = bytes.size() - trailing;
    file.warnings.push_back({RecordingWarning::Kind::PartialRecord, offset,
                             "damaged from byte " + std::to_string(offset) + ": the last " +
                                 std::to_string(trailing) +
                                 " bytes are not a whole 8-byte record and are not read"});
  }
  return file;
}

RecordingFile readRecordingFile(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    throw RecordingError(path + ": a folder, not a recording");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw RecordingError(path + ": cannot open (missing or not readable)");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (in.bad()) throw RecordingError(path + ": read error");
  try {
    return parseRecording(bytes);
  } catch (const RecordingError& failure) {
    throw RecordingError(path + ": " + failure.what());
  }
}

} // namespace quorb
