#ifndef QUORB_TOOLS_QUORB_TO_MIDI_H
#define QUORB_TOOLS_QUORB_TO_MIDI_H

#include "message.h"
#include "recording.h"
#include "smf_writer.h"

#include <cstdint>
#include <vector>

namespace quorb {

struct MidiOptions {
  double rate = 0;    // host clock ticks per second, > 0
  uint16_t ppq = 960; // 1 to 32767
  double bpm = 120;   // written as whole microseconds per quarter note, 1 to 0xFFFFFF
};

// Microseconds per quarter note for options.bpm; throws std::invalid_argument when out of range.
uint32_t tempoMicros(const MidiOptions& options);

// The file tick of a recording time: round(ticks / rate * 1e6 * ppq / tempoMicros), from the
// absolute time so that rounding never accumulates. The tempo is the one written, so the file
// plays each event at its recorded second to within half a tick.
uint64_t fileTick(uint64_t ticks, const MidiOptions& options);

// One MIDI track per take, built as a reading streams by. A track holds the take's
// name ("Take N"), the tempo when asked for, its channel messages at their placed ticks,
// Note Offs for notes still held at its end, and End-of-Track. Only the track being built holds
// its events (16 bytes each); finished tracks keep their encoded bytes.
class MidiConverter : public RecordingSink {
public:
  struct Track {
    uint64_t number; // the take's, from 1
    std::vector<uint8_t> data;
  };

  // Checks the options (std::invalid_argument). `only`: convert just that take (from 1),
  // 0 for all. The first track carries the tempo, or every track with `tempoInEachTrack`.
  explicit MidiConverter(const MidiOptions& options, uint64_t only = 0,
                         bool tempoInEachTrack = false);

  void beginTake(uint64_t number) override;
  void event(const RecordedEvent& event) override;
  void endTake() override;

  // An empty track numbered `number`, for a file with no takes.
  void addEmptyTrack(uint64_t number);

  std::vector<Track> tracks;
  uint64_t skippedRecords = 0; // not a channel message with valid data bytes
  uint64_t closedNotes = 0;    // Note Offs added for notes held at a take's end
  uint64_t fillerEvents = 0;   // carrying gaps longer than one delta time

private:
  struct Pending {
    uint64_t tick;
    uint8_t bytes[3];
    uint8_t size;
  };
  MidiOptions options_;
  uint32_t tempo_;
  uint64_t only_;
  bool tempoInEachTrack_;
  bool converting_ = false;
  uint64_t number_ = 0;
  std::vector<Pending> events_;
  HeldNotes held_;
};

// A whole conversion at once: for tests and small inputs.
struct MidiConversion {
  int format = 0;                           // 0 for one track, 1 for more
  std::vector<std::vector<uint8_t>> tracks; // track chunk data
  uint64_t skippedRecords = 0;
  uint64_t closedNotes = 0;
};

// Format 0 for one take, 1 otherwise; format 0 with one empty track for none. Track names
// count the takes from firstNumber. Throws std::invalid_argument for bad options.
MidiConversion toMidi(const std::vector<Take>& takes, const MidiOptions& options,
                      size_t firstNumber = 1);

} // namespace quorb

#endif // QUORB_TOOLS_QUORB_TO_MIDI_H
