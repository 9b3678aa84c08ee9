#ifndef QUORB_TOOLS_GRID_GRID_PARTS_H
#define QUORB_TOOLS_GRID_GRID_PARTS_H

// The steps of findGrid, each in a file of its own (grid.cpp tells the method).

#include "grid.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace quorb::grid {

// The median of `values` (the upper one of an even count), reordering them; 0 when empty.
inline double median(std::vector<double>& values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + long(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// Notes starting within MERGE seconds of the group's previous note sound as one event to a
// listener, a rolled chord too, as long as the group spans at most ROLL seconds.
constexpr double MERGE = 0.030;
constexpr double ROLL = 0.080;

// Candidate periods of the counted beat: FASTEST times whole powers of PERIOD_STEP up to SLOWEST.
constexpr double FASTEST = 0.25; // 240 BPM
constexpr double SLOWEST = 2.5;  // 24 BPM
constexpr double PERIOD_STEP = 1.02;

struct Onset {
  double time;   // the group's first note
  double weight; // how strongly it marks a beat; 1 on average over a take
  int lowest;    // lowest pitch of the group
  // How strongly it marks where a beat falls, for the tracker: the weight with loudness counting
  // less, and a held or moving bass more; 1 on average over a take.
  double salience = 1;
};

// Notes sorted by start (then pitch), as every step reads them; those not at a finite time left
// out.
std::vector<PlayedNote> sortedNotes(std::vector<PlayedNote> notes);

// Onsets in time order, weighted by chord size, loudness, the time to the next onset and bass.
std::vector<Onset> makeOnsets(const std::vector<PlayedNote>& sorted);

// The counted beat's period as it changes over the take, at the centres of overlapping windows.
struct Pulse {
  double start = 0; // the first centre, seconds
  double hop = 1;   // between centres
  std::vector<double> periods;
  double strength = 0; // how far the intervals stand above chance; about 1 for random times
  double at(double seconds) const; // between centres in proportion (of the log), held outside
};

// Tempo induction from the intervals between onsets, near and not only adjacent, window by
// window, keeping one metrical level through the take. With `clock` > 0, the pulse of a clock of
// that period: its strength is how far the intervals stand above chance there.
Pulse inducePulse(const std::vector<Onset>& onsets, double clock = 0);

// How the beat tracker follows the playing. `Expressive`: the path turns as the player shapes
// the time, a beat may be held, and each beat moves onto the onset that most marks it within
// half a beat. `Steady`, for a player keeping time (to a clock, or a dance): the path turns a
// fifth as readily, no beat is held, and a beat moves onto an onset only within a tenth of a
// beat, so that syncopations and accents between the beats do not pull it off its place.
enum class Following { Expressive, Steady };

// Beat times over the onsets' span following the playing, the period allowed to drift from
// the pulse's.
std::vector<double> trackBeats(const std::vector<Onset>& onsets, const Pulse& pulse,
                               Following following = Following::Expressive);

// The median change of the beats' period from one span of `span` beats to the next, as a log
// ratio: near 0 for beats that flow evenly. Longer spans let a player's timing of single notes
// even out and measure the tempo itself.
double unevenness(const std::vector<double>& beats, size_t span = 1);

// The median interval between the beats; 0 for fewer than two.
double medianPeriod(const std::vector<double>& beats);

// Each beat and the point halfway to the next.
std::vector<double> halves(const std::vector<double>& beats);

// The trackers' time step, seconds; well inside the 70 ms a listener allows.
constexpr double FRAME = 0.010;

// The trackers' states: periods counted in steps of PERIOD_STEP from FASTEST, each a lag in
// frames, from `margin` steps below `fastest` to `margin` steps above `slowest`; and frames from
// `origin`, a longest lag before the first onset (so that a beat or bar line may precede it), to
// a longest lag after the last.
struct FrameLattice {
  FrameLattice(const std::vector<Onset>& onsets, double fastest, double slowest, int margin);
  int stepsOf(double period) const;
  int lagOf(int steps) const { return lags[size_t(steps - lowest)]; }
  int lowest;
  std::vector<int> lags;
  int longest;
  double origin;
  size_t first;  // the frame of the first onset
  size_t last;   // the frame of the last onset
  size_t frames; // in all
};

// The rows of a tracker's ring of recent frames that holds at least `frames`: a power of two, so
// that a frame's row is frame & (rows - 1), with no division per state.
size_t ringRows(size_t frames);

// The frame of `time`, from `origin` on.
inline long frameOf(double time, double origin) { return std::lround((time - origin) / FRAME); }

// Weights at points in time, each spread over the frames around its own (a beat a frame or three
// off still counts), summed at `frame` onto `sum`: point i at frame `at[i]` (not decreasing in i)
// weighing `weightOf(i)`, added in their order. Frames are asked in increasing order, `next`
// (from 0) keeping the first point not yet behind them, so that a tracker reads only the points
// near its frame and holds no array over the take's frames.
constexpr float SPREAD_SHAPE[] = {1.0f, 0.8f, 0.45f, 0.15f};
template <class WeightOf>
void addSpread(float& sum, long frame, const std::vector<long>& at, size_t& next,
               WeightOf weightOf) {
  while (next < at.size() && at[next] < frame - 3)
    ++next;
  for (size_t i = next; i < at.size() && at[i] <= frame + 3; ++i)
    sum += float(weightOf(i)) * SPREAD_SHAPE[std::abs(at[i] - frame)];
}

// Beats at exactly `period` seconds apart, in the phase the onsets fit best.
std::vector<double> fixedBeats(const std::vector<Onset>& onsets, double period);

// The clock a player kept, where the beats found say one was kept: most of them on one line
// (beats exactly evenly spaced, fitted robustly), close to it. Its beats from the first stretch
// of beats on it to the last, and on to either end where the beats there keep its pace; beats of
// another pace before or after it (a free opening, a final ritardando) are not the clock's.
// Empty where no clock was kept. A tracker follows syncopated accents onto the off-beats for a
// while; a player at one tempo has not moved, and the clock keeps the beat through them.
std::vector<double> keptClock(const std::vector<double>& beats);

// The beats, or twice as many when the onsets between them fall only halfway and nothing
// divides the halves: then the half is the surface pulse, and a listener counts it. Not when the
// halves only strike again the keys of the beats beside them (`sorted`: the take's notes).
std::vector<double> surfaceLevel(const std::vector<Onset>& onsets, const std::vector<double>& beats,
                                 const std::vector<PlayedNote>& sorted);

// The beats, or every other one where nothing is played between them and they alternate a stream
// (every other beat only strikes again keys of the beats beside it, a hi-hat in eighths) with
// beats of keys of their own (kick and snare): a drum machine at 70 is tracked at its eighths,
// and a listener counts its kick and snare.
std::vector<double> streamLevel(const std::vector<Onset>& onsets, const std::vector<double>& beats,
                                const std::vector<PlayedNote>& sorted);

// The beats, or beats of two, four or eight steps where a machine played the take (every onset on
// a grid of equal steps, to the sample) and the beats found do not count whole such steps while
// the pattern recurs at four steps more than at three: a sequencer's sixteenths at 100 BPM are
// not a dotted-eighth pulse at 133.
std::vector<double> stepLevel(const std::vector<Onset>& onsets, const std::vector<double>& beats,
                              const std::vector<PlayedNote>& sorted);

// Whether the halves of the beats are the beat a listener counts: where they recur at bars of
// five or seven halves (a vamp in five counted in half notes, a riff in seven eighths counted in
// quarters), or where a drum kit's kick and backbeat (snare, side stick, clap) alternate at them,
// one at every beat and the other halfway between, the backbeat never with the kick's.
bool oddHalves(const std::vector<Onset>& onsets, const std::vector<double>& beats,
               const std::vector<PlayedNote>& sorted);
bool kitHalves(const std::vector<double>& beats, const std::vector<PlayedNote>& sorted);

// Where the beats of a clock `period` seconds apart (`clock`, as fixedBeats gives them) are a
// piece's quarters counted in dotted quarters, a 6/8 played to the host's clock, which counts
// quarters: the dotted beats, one and a half clock beats apart. Else none.
std::vector<double> dottedClock(const std::vector<Onset>& onsets, const std::vector<double>& clock,
                                double period);

// The beats, or their eighths where they are half bars of five or seven eighths (a fast riff in
// 5/8 counted in two, each beat two and a half eighths).
std::vector<double> halfBarLevel(const std::vector<Onset>& onsets,
                                 const std::vector<double>& beats);

struct Meter {
  int numerator = 4;
  int denominator = 4;
  size_t phase = 0;         // index of the first bar line among the tracked beats
  std::vector<size_t> bars; // indices of every bar line among them, increasing
  double strength = 0;
};

// How strongly each beat sounds like the first of a bar: the onset weight at it, a new low bass
// note, the bass moving to another pitch class, long notes starting (counting twice) and the
// harmony changing from the beat before.
std::vector<double> beatAccents(const std::vector<PlayedNote>& sorted,
                                const std::vector<Onset>& onsets, const std::vector<double>& beats);

// Each accent's excess over the mean of the beats within eight of it: a loud or busy passage
// raises every beat alike, and only what stands out from its neighbours marks a bar line.
std::vector<double> accentExcess(const std::vector<double>& accent);

// The meter and where bars start, from accents, bass, long notes and harmony changes at the
// beats. numerator > 0 fixes the meter and only the phase is found.
Meter findMeter(const std::vector<PlayedNote>& sorted, const std::vector<Onset>& onsets,
                const std::vector<double>& beats, int numerator, int denominator);

// The bar lines among the tracked beats, tracked a whole bar at a time: `perBar` beats evenly
// dividing each bar, its period near `perBar` times the beats' local one, a bar of a beat more
// or less only near where the meter's count (`counted`, bar lines among the beats) has one.
// None where the beats do not flow evenly, nor where they share fewer than a third of the
// count's bar lines.
std::vector<size_t> trackBars(const std::vector<PlayedNote>& sorted,
                              const std::vector<Onset>& onsets, const std::vector<double>& beats,
                              const std::vector<size_t>& counted, int perBar);

} // namespace quorb::grid

#endif // QUORB_TOOLS_GRID_GRID_PARTS_H
