#ifndef QUORB_TOOLS_GRID_GRID_H
#define QUORB_TOOLS_GRID_GRID_H

// The musician's grid in a played take: where the beats fall as the playing speeds up and slows
// down, and where the bar lines are. The grid never moves a note: it becomes a tempo map and time
// signatures (TempoMap), through which every message keeps its second.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace quorb {

struct PlayedNote {
  double start; // seconds from the start of the take
  double end;   // its Note Off; equal to start when the take never closed it
  uint8_t pitch;
  uint8_t velocity; // 1-127
};

// Meters are time signatures as written: 3/4 is 3 and 4, 6/8 is 6 and 8. The counted beat is the
// quarter in x/4, a dotted quarter in 6/8, 9/8 and 12/8 and an eighth in 5/8 and 7/8
// (beatsPerBar), as a listener taps.
struct GridOptions {
  double knownBpm = 0; // > 0: the player followed a fixed clock at this many beats a minute; only
                       // the phase and the bars are found. Its beat is the counted beat, or the
                       // quarter (as the host counts) of a 6/8 or a 7/8
  int numerator = 0;   // 0: find the meter; else with denominator 4 or 8
  int denominator = 0;
};

struct Grid {
  bool pulse = false; // false: no steady pulse (too few notes, free time); the grid is
                      // then 120 BPM in 4/4 from second 0 and means nothing
  // Counted beats in seconds, increasing: beats[0] <= 0 < beats[1], the last at or after the end
  // of the last note. A grid without a pulse holds only its first two and goes on at their pace,
  // as TempoMap writes it: its size must not follow a take's length, which the clock words of a
  // damaged file can stretch over thousands of hours.
  std::vector<double> beats;
  int numerator = 4;
  int denominator = 4;
  size_t firstDownbeat = 0; // index in beats of the first bar line at or after second 0
  // Indices in beats of every bar line from firstDownbeat on, increasing. A bar is
  // beatsPerBar(numerator, denominator) beats long except where the count gained or lost a beat
  // against the music; then one bar is shorter or longer. Empty: every bar is that long.
  std::vector<size_t> downbeats;
  double confidence = 0; // 0..1
  // The meter each piece's bars are written in, in take order; numerator and denominator above
  // are the longest piece's. A piece is a part of the take after a silence of ten seconds or
  // more, found apart: its own tempo, beats and bar lines. One for a take of one piece; none
  // without a pulse.
  std::vector<std::pair<int, int>> pieces;
};

// Counted beats in a bar: numerator / 3 for 6/8, 9/8 and 12/8, else the numerator.
int beatsPerBar(int numerator, int denominator);

// Quarter notes in a counted beat: 1.5 in 6/8, 9/8 and 12/8, 0.5 in 5/8 and 7/8, else 4 over the
// denominator. A MIDI file's tempo, a DAW's BPM and the host's clock count quarters.
double quartersPerBeat(int numerator, int denominator);

// Never throws for any notes (unsorted, overlapping, empty); throws std::invalid_argument for a
// meter it cannot count (a denominator other than 4 or 8 with a numerator given) and for a known
// tempo outside 1 to 1000 BPM (infinite included). Takes the notes by value and sorts them in
// place: a caller done with them moves them in, and a long take's notes are not held twice.
Grid findGrid(std::vector<PlayedNote> notes, const GridOptions& options = {});

struct TempoChange {
  uint64_t tick;
  uint32_t microsPerQuarter; // 1 to 0xFFFFFF, as a Set Tempo event holds it
};

struct MeterChange {
  uint64_t tick;
  int numerator;
  int denominator; // a power of two
};

// A grid as a MIDI file carries it: a Set Tempo at every counted beat and the time signatures;
// after the last beat its tempo goes on.
// Tick 0 is second 0 of the take. When beats[0] < 0, the file opens with a partial beat (rounded
// to a sixteenth) and the bar before firstDownbeat is a short bar of its own signature, so that
// every later bar line falls on a downbeat of the grid.
class TempoMap {
public:
  // ppq: ticks per quarter note, 1 to 32767.
  TempoMap(const Grid& grid, uint16_t ppq);

  uint16_t ppq() const { return ppq_; }
  const std::vector<TempoChange>& tempos() const { return tempos_; }
  const std::vector<MeterChange>& meters() const { return meters_; }

  // The tick a message at `seconds` is written at, computed through the written integer tempos,
  // so that a reader plays it within half a tick of `seconds` wherever it is (before the first
  // beat, after the last). Half a tick is under 1 ms while a tick lasts at most 2 ms, as it does
  // at 960 ticks per quarter for any quarter up to 1.9 s. Negative seconds give tick 0.
  uint64_t tickAt(double seconds) const;
  // Where a reader of the file puts `tick`, in seconds.
  double secondsAt(uint64_t tick) const;

private:
  uint16_t ppq_;
  std::vector<TempoChange> tempos_;
  std::vector<MeterChange> meters_;
  std::vector<int64_t> startMicrosTimesPpq_; // per tempo change: its time in us, times ppq
};

} // namespace quorb

#endif // QUORB_TOOLS_GRID_GRID_H
