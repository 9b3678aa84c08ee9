#ifndef QUORB_TOOLS_RECORDING_RECORDING_H
#define QUORB_TOOLS_RECORDING_RECORDING_H

// Reading .quorb recording files: 8-byte records, uint32 little-endian time then uint32
// little-endian message word, no header. A file may hold several recordings one after another.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorb {

// How the reader splits a file into recordings and unwraps the 32-bit time, in words for people
// (`quorb --help` prints it). recording.cpp implements exactly this.
extern const char* const RECORDING_BOUNDARY_RULE;

constexpr uint32_t WRAP_HIGH_QUARTER = 0xC0000000; // previous time at or above this ...
constexpr uint32_t WRAP_LOW_QUARTER = 0x40000000;  // ... and next time below this: a wrap

struct RecordedEvent {
  size_t index;     // record number in the file, from 0
  uint32_t time;    // as stored
  uint32_t message; // as stored, status byte in bits 0-7
  uint64_t ticks;   // time unwrapped: counts from the recording's time 0
  // Stamped with the length of a pause just ended (see the rule): its ticks stand ahead of the
  // records after it. placedTicks is then the ticks of the first record after it that is not
  // ahead (its own ticks when none follows); otherwise placedTicks equals ticks.
  bool ahead = false;
  uint64_t placedTicks = 0;
};

struct Recording {
  std::vector<RecordedEvent> events;
  uint64_t durationTicks() const; // the largest ticks of the recording, 0 when empty
};

struct RecordingWarning {
  enum class Kind { PartialRecord, SystemStatus, TimeBackwards };
  Kind kind;
  uint64_t offset; // byte offset in the file where the trouble is
  std::string text;
};

struct RecordingFile {
  uint64_t recordCount = 0;
  std::vector<Recording> recordings; // in file order; none for a file without whole records
  std::vector<RecordingWarning> warnings;
};

class RecordingError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Reads what is whole and warns about the rest. Throws RecordingError only for bytes that are
// not a recording at all: a Standard MIDI File, or records none of which holds a channel message.
RecordingFile parseRecording(const std::vector<uint8_t>& bytes);

// As parseRecording, and throws RecordingError naming the path when it cannot be read.
RecordingFile readRecordingFile(const std::string& path);

// True for a status byte the recorder never writes (0xF0-0xFF: system messages).
constexpr bool isSystemStatus(uint32_t message) { return (message & 0xF0) == 0xF0; }

} // namespace quorb

#endif // QUORB_TOOLS_RECORDING_RECORDING_H
