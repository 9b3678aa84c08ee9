#ifndef QUORB_TOOLS_GRID_TAKE_GRID_H
#define QUORB_TOOLS_GRID_TAKE_GRID_H

// A take's grid as the commands use it: the notes collected message by message by the one
// held-notes rule, the grid found in them (or a plain constant tempo, when asked), and what a
// musician is told about it.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "grid.h"
#include "message.h"

namespace quorb {

// How a take's time is written: the grid found in the playing (the default), or today's plain
// constant tempo.
struct GridSettings {
  bool plain = false; // a constant `bpm` in 4/4, nothing found
  double bpm = 120;
  GridOptions find; // a known tempo, a given meter
};

// The notes of one take, built from its messages in the order they were handled.
class NoteCollector {
public:
  // `change` is what HeldNotes::apply said of `word`, handled at `seconds`.
  void add(double seconds, uint32_t word, const HeldNotes::Change& change);
  // The notes, any still held ended at `end`; the collector starts again empty.
  std::vector<PlayedNote> finish(double end);

private:
  std::vector<PlayedNote> notes_;
  uint32_t sounding_[16][128] = {}; // index in notes_ of the note sounding, where one does
};

// The grid of a take by the settings. With `plain`, a constant `settings.bpm` in 4/4; where the
// playing has no steady pulse, the known tempo (else 120) in the given meter (else 4/4).
Grid takeGrid(std::vector<PlayedNote> notes, const GridSettings& settings);

// What a musician is told of a take's grid: its tempo ("92 BPM", or "84-101 BPM" for a take that
// moves), its meter ("3/4"), its bars and how sure the finding is.
struct GridSummary {
  bool found = false; // false: a constant tempo, plain or for want of a pulse
  double bpmLow = 0, bpmHigh = 0;
  int numerator = 4, denominator = 4;
  uint64_t bars = 0;
  std::vector<std::pair<int, int>> pieces; // each piece's meter (Grid::pieces)
  double confidence = 0;
};
GridSummary summarize(const Grid& grid, bool plain, double endSeconds);
// "92 BPM, 3/4, 48 bars, confidence 0.81" ("4/4 then 3/4, 48 bars in 2 pieces" for a take found
// piece by piece, each piece's meter in turn where they differ); for a constant tempo, what it
// is and why.
std::string describe(const GridSummary& summary, bool plain);

} // namespace quorb

#endif // QUORB_TOOLS_GRID_TAKE_GRID_H
