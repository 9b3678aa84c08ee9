#ifndef QUORB_TOOLS_QUORB_TO_MIDI_H
#define QUORB_TOOLS_QUORB_TO_MIDI_H

#include "message.h"
#include "recording.h"
#include "smf_writer.h"
#include "take_grid.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace quorb {

struct MidiOptions {
  double rate = 0;    // host clock ticks per second, > 0
  uint16_t ppq = 960; // 1 to 32767
  double bpm = 120;   // the plain tempo: whole microseconds per quarter note, 1 to 0xFFFFFF
  // The grid found in the playing, by default; grid.plain: today's constant tempo at `bpm`.
  GridSettings grid;
  // Doubles ppq while a tick of the file's slowest quarter would last more than 1.98 ms (a quarter
  // longer than 1.9 s at 960), so that half a tick, the furthest a message moves, stays under
  // 1 ms however slow the beat. A track's own ppq says which was used.
  bool finerForSlowQuarters = false;
};

// Microseconds per quarter note for options.bpm; throws std::invalid_argument when out of range.
uint32_t tempoMicros(const MidiOptions& options);

// The file tick of a recording time: round(ticks / rate * 1e6 * ppq / tempoMicros), from the
// absolute time so that rounding never accumulates. The tempo is the one written, so the file
// plays each event at its recorded second to within half a tick.
uint64_t fileTick(uint64_t ticks, const MidiOptions& options);

// One MIDI track per take, built as a reading streams by. A track holds the take's
// name ("Take N"), the tempo map when asked for, its channel messages at their placed ticks,
// Note Offs for notes still held at its end, and End-of-Track. Only the take being built holds
// its events (16 bytes each) and its notes (24 bytes each); finished tracks keep their encoded
// bytes.
//
// The tempo map is the grid found in a take's playing (take_grid.h): a Set Tempo at its beats
// and its time signatures, through which every message keeps its recorded second to within half
// a tick. A file of several tracks has one map, the first converted take's; with
// tempoInEachTrack each take has its own. With options.grid.plain the map is one constant tempo,
// as it always was.
class MidiConverter : public RecordingSink {
public:
  struct Track {
    uint64_t number; // the take's, from 1
    std::vector<uint8_t> data;
    uint16_t ppq; // its ticks per quarter; the tracks of one file share it
  };

  // Checks the options (std::invalid_argument). `only`: convert just that take (from 1),
  // 0 for all. The first track carries the tempo map, or every track with `tempoInEachTrack`.
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
  // Each grid written, with the number of the take it was found in.
  struct TakeGridNote {
    uint64_t take;
    GridSummary summary;
  };
  std::vector<TakeGridNote> grids;

private:
  struct Pending {
    uint64_t ticks; // the recording's, placed
    uint8_t bytes[3];
    uint8_t size;
  };
  uint64_t tickOf(uint64_t ticks) const; // in the file, through the map or the plain tempo
  MidiOptions options_;
  uint32_t tempo_;
  uint64_t only_;
  bool tempoInEachTrack_;
  bool converting_ = false;
  uint64_t number_ = 0;
  std::vector<Pending> events_;
  HeldNotes held_;
  NoteCollector notes_;
  std::optional<TempoMap> map_; // the grid's, once found; none when plain
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
