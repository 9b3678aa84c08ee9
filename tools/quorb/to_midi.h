#ifndef QUORB_TOOLS_QUORB_TO_MIDI_H
#define QUORB_TOOLS_QUORB_TO_MIDI_H

#include "recording.h"
#include "smf.h"

#include <cstdint>
#include <vector>

namespace quorb {

struct MidiOptions {
  double rate = 0;    // host clock ticks per second, > 0
  uint16_t ppq = 960; // 1 to 32767
  double bpm = 120;   // written as whole microseconds per quarter note, 1 to 0xFFFFFF
};

struct MidiConversion {
  int format = 0;
  std::vector<SmfTrack> tracks;
  uint64_t skippedRecords = 0; // not a channel message with valid data bytes
  uint64_t closedNotes = 0;    // Note Offs added for notes held at a recording's end
};

// Microseconds per quarter note for options.bpm; throws std::invalid_argument when out of range.
uint32_t tempoMicros(const MidiOptions& options);

// The file tick of a recording time: round(ticks / rate * 1e6 * ppq / tempoMicros), from the
// absolute time so that rounding never accumulates. The tempo is the one written, so the file
// plays each event at its recorded second to within half a tick.
uint64_t fileTick(uint64_t ticks, const MidiOptions& options);

// One track per recording (format 0 for one, 1 otherwise; format 0 with one empty track for
// none). Every track starts with its name, the first also with the tempo; events stand at
// their placed ticks; notes still held at the end are closed there. Throws
// std::invalid_argument for bad options. Track names count the recordings from firstNumber.
MidiConversion toMidi(const std::vector<Recording>& recordings, const MidiOptions& options,
                      size_t firstNumber = 1);

} // namespace quorb

#endif // QUORB_TOOLS_QUORB_TO_MIDI_H
