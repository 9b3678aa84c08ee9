#ifndef QUORB_TOOLS_GRID_TAKES_H
#define QUORB_TOOLS_GRID_TAKES_H

// Takes with known grids, made up as a player would play them, and the measures a found grid is
// judged by. Shared by the tests and the benchmark; not part of any program users run.

#include "grid.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorb::takes {

// How the hands fill a bar; each is what a listener recognises as its meter.
enum class Texture {
  March,      // bass on 1 and 3, chords on 2 and 4, melody; 4/4
  Polka,      // bass on each beat (root, then fifth), chords between; 2/4
  Waltz,      // bass on 1, chords on 2 and 3; 3/4
  Barcarolle, // eighths rolling up from a low root on 1 and from a fifth on 2; 6/8
  Alberti,    // sixteenths low-high-middle-high under a melody; 4/4
  Chorale,    // a rolled chord on every beat, the bass moving each bar; 3/4 or 4/4
  Toccata,    // full chords in sixteenths, a little louder on beats; dense, for timing
  Tapped,     // one key on every beat, louder on 1, an eighth before every other bar: a pad
  Drums,      // kick on 1, snare on 2, closed hi-hat in eighths: a drum groove
  Machine,    // the same groove, every hit alike: a drum machine
  Arpeggio,   // the bar's chord up in sixteenths, root to octave: an arpeggiator
  Held,       // the same, one chord held throughout: nothing marks a beat or a bar but its steps
  Vamp,       // bass on the first beat of each group (3+2 in 5/4, 3+2+2 in 7/4), chords on the
              // others, a melody over it: a jazz vamp in five, a riff in seven
};

struct TakeKind {
  std::string name;
  Texture texture;
  int numerator, denominator;
  double bpmFrom, bpmTo; // counted beats a minute at the first and at the last beat
  int pickup;            // counted beats before the first bar line
  int bars;
  double looseness = 1; // the player's timing of single notes, times that of a steady hand;
                        // 0 for a machine, every note on its time to the sample
};

// Steady and expressive (accelerando, ritardando) kinds over 60-180 BPM and the four meters.
std::vector<TakeKind> kinds();

struct Take {
  std::vector<PlayedNote> notes; // every onset moved by up to 15 ms at random (by a steady hand)
  std::vector<double> beats;     // the counted beats as played, before the moves
  std::vector<double> downbeats;
};

Take makeTake(const TakeKind& kind, uint32_t seed);

// Notes at random times: no pulse to find.
std::vector<PlayedNote> randomNotes(size_t count, double seconds, uint32_t seed);

// F-measure of `found` against `truth`: a found time is a hit within `tolerance` of a truth
// time not matched yet; found times outside the truth's span (widened by the tolerance) do not
// count. 1 when both are empty inside the span.
double fMeasure(const std::vector<double>& found, const std::vector<double>& truth,
                double tolerance = 0.07);

// The grid's bar lines: its downbeats, or its beats from firstDownbeat on, a bar apart.
std::vector<double> barLines(const Grid& grid);

// Median over the truth's beat intervals of the relative difference between the found grid's
// local beat period and the true one: 0.02 is 2 % off.
double tempoError(const std::vector<double>& found, const std::vector<double>& truth);

// Median found beat interval over median true one inside the truth's span: 1 at the right
// metrical level, 0.5 when the grid counts twice as many beats, 2 for half as many.
double levelRatio(const std::vector<double>& found, const std::vector<double>& truth);

} // namespace quorb::takes

#endif // QUORB_TOOLS_GRID_TAKES_H
