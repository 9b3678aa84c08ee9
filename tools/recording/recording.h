#ifndef QUORB_TOOLS_RECORDING_RECORDING_H
#define QUORB_TOOLS_RECORDING_RECORDING_H

// Reading .quorb recording files: 8-byte records, uint32 little-endian time then uint32
// little-endian message word, no header. A file may hold several takes one after another,
// and damage (a record torn by a full disk, stray bytes) that the reader reads past.
//
// The reader streams: it hands each record to a RecordingSink as soon as its place in the file's
// takes is settled, holding back only the records whose placement still depends on what
// follows, so that the commands need memory for the file's bytes and little else.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "message.h"
#include "recorder_contract.h"

namespace quorb {

// How the reader splits a file into takes and unwraps the 32-bit time, and how it reads
// past damage, in words for people (`quorb help format` prints both). recording.cpp implements
// exactly these.
extern const char* const TAKES_RULE;
extern const char* const DAMAGE_RULE;

constexpr uint32_t WRAP_HIGH_QUARTER = 0xC0000000; // previous time at or above this ...
constexpr uint32_t WRAP_LOW_QUARTER = 0x40000000;  // ... and next time below this: a wrap
// Damage handling (DAMAGE_RULE): records in a row read without a second look, the records'
// worth of bytes over which the eight byte phases compete, and the run that marks where a new
// phase starts.
constexpr size_t TRUSTED_RUN = 8;
constexpr size_t VOTE_SPAN = 16;
constexpr size_t RESYNC_RUN = 4;

// A record the module could have written, for telling records from damage: a channel message
// (message.h), with the second data byte below 0x80 even where the message leaves it unused, as
// the host packs it. The top byte is left to the host's packing and not judged.
constexpr bool isPlausibleMessage(uint32_t message) {
  return channelMessageSize(message) != 0 && ((message >> 16) & 0x80) == 0;
}

struct RecordedEvent {
  uint64_t index;   // number of the record among the records read, from 0 (offset / 8 until
                    // the first damage)
  uint64_t offset;  // byte offset of the record in the file
  uint32_t time;    // as stored
  uint32_t message; // as stored, status byte in bits 0-7
  uint64_t ticks;   // time unwrapped: counts from the recording's time 0
  // Stamped with the length of a pause just ended (see the rule): its ticks stand ahead of the
  // records after it. placedTicks is then the ticks of the first record after it that is not
  // ahead; otherwise placedTicks equals ticks.
  bool ahead = false;
  uint64_t placedTicks = 0;
};

struct RecordingWarning {
  enum class Kind { Damage, SystemStatus, TimeBackwards };
  Kind kind;
  uint64_t offset; // byte offset in the file where the trouble is
  std::string text;
};

// What a reading found besides the takes themselves.
struct ReadTotals {
  uint64_t records = 0;         // 8-byte records read
  uint64_t skippedBytes = 0;    // damage read past
  uint64_t damagedPlaces = 0;   // stretches of damage
  uint64_t takes = 0;           // takes begun
  uint64_t channelMessages = 0; // records holding a plausible message
  uint64_t bytes = 0;           // the file's size
};

// Receives a reading in file order. Each take's events come between its begin and end, with
// ahead and placedTicks already final; warnings come in the order of their offsets as far as
// the reading allows.
class RecordingSink {
public:
  virtual ~RecordingSink() = default;
  virtual void beginTake(uint64_t /*number, from 1*/) {}
  virtual void event(const RecordedEvent& event) = 0;
  virtual void endTake() {}
  virtual void warning(const RecordingWarning& /*warning*/) {}
};

class RecordingError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// What people drop on the tools by mistake, named by its first bytes ("a WAV sound file"); null
// when the bytes start like none of them. A recording has no signature of its own, and its
// first record cannot look like these: see the definition.
const char* knownFormat(const uint8_t* bytes, size_t size);

// A recording holds this share of its bytes, at least, in records with a channel message.
// Measured: real takes with stray bytes or a torn end keep 0.98 and more, and a single record
// with a torn 7-byte tail 0.53; random bytes give 0.08 to 0.13, programs, zip archives and WAV
// sound 0 to 0.11, plain text 0.004.
constexpr uint64_t PLAUSIBLE_SHARE_DIVISOR = 3;

// Reads `size` bytes of a recording file into `sink`. Throws RecordingError, before calling the
// sink, for a file of a knownFormat. Too few plausible records are not refused here: see
// requireRecording.
ReadTotals readRecording(const uint8_t* bytes, size_t size, RecordingSink& sink);

// Throws RecordingError when less than 1 / PLAUSIBLE_SHARE_DIVISOR of a non-empty file's bytes
// lie in records holding a channel message: not a recording.
void requireRecording(const ReadTotals& totals);

// A whole file's reading kept in memory: for tests and small files.
struct Take {
  std::vector<RecordedEvent> events;
  uint64_t durationTicks() const; // the largest ticks of the recording, 0 when empty
};

struct RecordingFile {
  ReadTotals totals;
  std::vector<Take> takes; // in file order; none for a file without records
  std::vector<RecordingWarning> warnings;
};

// readRecording and requireRecording into a RecordingFile.
RecordingFile parseRecording(const std::vector<uint8_t>& bytes);

} // namespace quorb

#endif // QUORB_TOOLS_RECORDING_RECORDING_H
