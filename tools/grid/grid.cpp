// Finding the grid: a classical, explainable chain of four steps.
//
// 1. Onsets. A note starting within 30 ms of the one before is part of the same onset, a chord
//    rolled over up to 80 ms too. Its weight grows with the number of notes, the loudness of the
//    loudest (doubling every 20 velocity steps), the time to the next onset (a durational accent
//    that saturates, after Parncutt 1994) and how low its lowest note lies against the notes
//    around it. The tracker reads a salience of its own: loudness doubling only every 60 steps
//    (a pianist voices the melody loudest wherever it falls), a held bass note counting up to
//    twice, and the lowest voice's own rhythm: the time to the next onset in its register
//    saturating like the gap, and a lowest note that moves from the last one in its register
//    counting twice (the bass moves with the harmony on the beat, the chords after it repeat).
// 2. Tempo induction. In windows of 24 s every 3 s, the intervals between each onset and its
//    later neighbours up to 5 s (all within 2 s, the perceptual present; beyond it only the next
//    16, so that the notes of a run do not lend the slow levels their long intervals) are
//    gathered in a histogram, each pair weighted by the product of its weights to the power 1.5.
//    Each candidate beat period (0.25-2.5 s) is scored by the intervals at it and at its multiples
//    (the bar), times a broad preference for beats near 0.5 s; one path of periods through the
//    windows, paying for each change, keeps the metrical level while the tempo drifts (Dixon 2001,
//    BeatRoot's clustering of inter-onset intervals; the tempo prior of Ellis 2007). Plain pair
//    counts against their local mean measure how sure the pulse is; any take of 8 onsets or more
//    gets a grid.
// 3. Beat tracking by dynamic programming (Ellis 2007). The state is a 10 ms frame and a beat
//    period within x1.37 of the local one; a beat collects the onset salience at its frame and
//    pays for changing its period from the beat before (squared log ratio) and for straying from
//    the local period. One pass over frames x periods, then backtracking: linear in the take.
//    The ways back are let go wherever the best paths have all met (a few beats back where
//    something is played), so that memory follows the notes, not the take's length.
//    A beat may be held (1.2 to 1.8 periods, where nothing is played over its last half), the
//    tempo returning after it, never twice in a row: a player lengthens a phrase end or a held
//    chord and goes on, which a path turning a few percent a beat would fill with a beat too
//    many. Each beat then moves onto the onset that most marks it within half a beat, as rubato
//    moves single beats further than a regular path may turn; a beat on no onset squeezed
//    between its neighbours (under 1.9 local periods apart) is dropped.
//    When every beat is halved by an onset and nothing divides the halves, the halves are the
//    pulse a listener counts (a fast march in plain quarters), down to 0.3 s a beat; but not
//    where the halves only strike again the keys of the beats (a hi-hat in eighths). The other
//    way, where the beats are the fastest notes and every other one is such a stream, the beats
//    are merged in twos (a drum machine at 70, its hi-hat tracked as the beat); so too where every
//    other one strikes one key alone, the same each time and beside no other, above the lowest
//    keys of the beats between (an open hi-hat on the offbeats of four on the floor). Where the
//    halves of the beats recur at five or seven halves, as the beats would at bars of five or
//    seven (below), the halves are the beat, tracked again as such: a vamp in five at 170 is not
//    counted in half notes. So too on a drum kit whose kick and backbeat alternate at the halves
//    of the beats, the snare never with the kick, up to 200 BPM: a rock beat at 170 is not
//    counted at 85. And where nearly every onset falls on tenths (fourteenths) of two beats and
//    few on their eighths, twelfths or sixteenths, the beats are half bars of five (seven)
//    eighths, and the eighths are the beat: a riff in 5/8 at 150 a quarter is not counted in two.
//    Where the beats so found flow evenly throughout (their intervals changing by a median of at
//    most 3.5 % from one to the next, or their period over four beats by 2 % from one four to
//    the next), the player keeps time, and they are tracked again held to it: a change of period
//    costs five times as much, no beat is held, and a beat moves onto an onset only within a tenth
//    of a beat, so that long chords, syncopations and accents between the beats neither stretch a
//    beat nor pull it off its place. Where at least 70 % of the beats then lie within a tenth of
//    a beat of one line, half of them within 15 ms (the player kept a click), the file's beats
//    are that clock (fitted robustly, from whichever eighth of the take fits most beats) over the
//    stretch it holds, and on to the ends where the beats there keep its pace, but not through a
//    free opening or a final ritardando: a few bars of off-beat accents no longer pull the beat
//    onto the off-beats, and the file keeps one tempo. The bars are counted on the beats found,
//    which sit on the onsets, and each bar line moves onto the clock's beat nearest it.
// 4. Meter and bar lines. Each beat gets an accent from the onset weight at it, a new low bass
//    note, a bass moving to another pitch class, long notes starting at it (counting twice) and a
//    change of harmony (pitch-class profile) from the beat before; on a drum kit whose kick
//    strikes every beat (four on the floor), a snare or clap counts against it (the backbeat).
//    Bars of three or of two and four follow from how the accents recur, at lags of three and nine
//    beats against two, four and eight (Brown 1993), and how the rhythm within the beats recurs at
//    those lags more than one beat nearer or farther (a figure repeated bar by bar; Foote and
//    Cooper 2001). Neither needs a phase, so a beat the tracker lost spoils only the pairs across
//    it; four rather than two only when the first beat clearly outweighs the third, and bar by bar
//    (each bar judged by the others), as a bar of four read with its halves swapped marks no bar
//    line at all (Temperley 2001; Grohganz, Clausen and Mueller 2014). Where every beat strikes the
//    same keys in the same order and their loudness recurs at no bar's length beyond chance (one
//    chord held on an arpeggiator), nothing marks a bar: bars of four from the first note, as a
//    sequencer counts them. Bars of five or seven where the beats flow evenly and each half of the
//    take recurs at five and ten beats (or seven and fourteen) clearly more than at three and nine
//    or at two, four and eight; in eighths, 5/8 or 7/8, where the beats are faster than 200 BPM.
//    Onsets at thirds of the beat rather than at halves make the meter compound: 6/8, 9/8 or
//    12/8 with the dotted quarter counted. The bar lines then follow the position in the bar
//    beat by beat, each first beat measured against the beats around it: a beat is a first beat
//    where that is its most probable position over every way the count may have run
//    (forward-backward), so that after a slip each bar line follows the evidence around it. A
//    change of phase pays what about eight bars of typical accents earn, more where the bars
//    read plainly and twice that where the beats flow evenly, so that a beat the tracker missed
//    or added (where the playing turns uneven) costs a bar, not every bar after it; that bar is
//    written with a signature of its own.
//    Where the beats flow evenly (the median change from one beat interval to the next within
//    5 %), the bar lines come instead from a second dynamic programme whose steps are whole bars
//    (the bar pointer of Whiteley, Cemgil and Godsill 2006; Krebs, Boeck and Widmer 2013): the
//    state a frame and a bar period near the counted beats a bar times the local beat period, a
//    bar earning the accent of its first beat against the beats around it and the salience at
//    its inner beats, evenly spaced, and paying for a change of period from the bar before. A
//    count beat by beat follows any run of contrary accents; whole bars keep their length, and
//    take a beat more or less only where the count above found one. Each bar line then goes
//    onto the tracked beat nearest it. The whole bars mend the count where it slipped; sharing
//    fewer than a third of its bar lines, they would overturn its phase, and the count stays.
// A take that falls silent for ten seconds or more and goes on is cut there into pieces, and
// steps 2 to 4 run on each piece's own playing: a player who stops that long may start another
// piece at another tempo, in another meter. The silence between is filled with beats at the pace
// of the last ones and bars of the take's meter (its longest piece's).
//
// References:
//   S. Dixon, Automatic extraction of tempo and beat from expressive performances, Journal of
//     New Music Research 30(1), 2001.
//   J. C. Brown, Determination of the meter of musical scores by autocorrelation, Journal of the
//     Acoustical Society of America 94(4), 1993.
//   J. Foote, M. Cooper, Visualizing musical structure and rhythm via self-similarity,
//     International Computer Music Conference, 2001.
//   D. P. W. Ellis, Beat tracking by dynamic programming, Journal of New Music Research 36(1),
//     2007.
//   R. Parncutt, A perceptual model of pulse salience and metrical accent in musical rhythms,
//     Music Perception 11(4), 1994.
//   D. Temperley, The Cognition of Basic Musical Structures, MIT Press, 2001.
//   N. Whiteley, A. T. Cemgil, S. Godsill, Bayesian modelling of temporal structure in musical
//     audio, ISMIR 2006.
//   F. Krebs, S. Boeck, G. Widmer, Rhythmic pattern modeling for beat and downbeat tracking in
//     musical audio, ISMIR 2013.
//   H. Grohganz, M. Clausen, M. Mueller, Estimating musical time information from performed
//     MIDI files, ISMIR 2014.

#include "grid.h"
#include "grid_parts.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

namespace quorb {

namespace {

// Fewer cannot show a pulse. More always get a grid: a player who plays that many notes almost
// always keeps a pulse, and the strength of the intervals cannot tell random times from dense,
// free playing (random times reach 1.47, many a real piece stays under 1.3); it goes into the
// confidence instead.
constexpr size_t FEWEST_ONSETS = 8;
// Onsets further apart than this on average, over the time the take is played (its silences
// between pieces left out), keep no pulse a listener could follow; and the tracker steps through
// each piece's length in frames, so this also bounds its work and memory by the notes, whatever
// the length (a take stamped across hours of silence, or a damaged file).
constexpr double MOST_SECONDS_PER_ONSET = 4;
constexpr double SPARSE_GRACE = 60; // seconds a short take may have however few its onsets
// The beats run on through the silence before the first note and between pieces, so that is
// bounded too: a player who starts the take and walks to the instrument, or takes a phone call
// between two pieces, but not a file whose clock words jump by hours (damage read as wraps).
constexpr double MOST_SILENCE = 3600;
// Beats come from a player keeping time, and are tracked again as such, where their intervals
// change by a median of at most 3.5 % from one to the next, or their period over four beats by
// at most 2 % from one four to the next: the beats of a free path would follow the syncopations
// and the accents between the beats for a beat or two. A player's timing of single notes spoils
// the first measure and evens out in the second; a few beats the free path held spoil the second.
constexpr double EVEN_BEATS = 0.035;
constexpr double EVEN_FOURS = 0.02;
// A silence this long, no note sounding, parts two pieces: a player who stops that long and
// plays on may start another piece, at another tempo and in another meter. Pauses inside a
// piece (a general pause, a fermata over a rest) last a few seconds, rarely up to eight.
constexpr double PIECE_SILENCE = 10;

Grid noPulse() {
  Grid grid;
  grid.beats = {0, 0.5};
  return grid;
}

// Mean of up to four beat intervals from `from` on, going the way of `step` (+1 or -1).
double period(const std::vector<double>& beats, size_t from, int step) {
  double sum = 0;
  int count = 0;
  for (size_t k = from; count < 4 && k + 1 < beats.size(); k = size_t(long(k) + step)) {
    sum += beats[k + 1] - beats[k];
    ++count;
    if (k == 0 && step < 0) break;
  }
  return sum / count;
}

// The beats [from, to) of one piece, and the time span its notes start in.
struct Piece {
  size_t from, to;
  double start, end;
};

// The time spans of a take's pieces: cut where no note sounds for PIECE_SILENCE seconds or more,
// each silence split at its middle; the first from minus infinity, the last to infinity.
// `silent`: the length of those silences in all.
std::vector<std::pair<double, double>> pieceSpans(const std::vector<PlayedNote>& sorted,
                                                  double& silent) {
  constexpr double EVER = std::numeric_limits<double>::infinity();
  std::vector<std::pair<double, double>> spans{{-EVER, EVER}};
  double sounding = sorted.front().end;
  silent = 0;
  for (const PlayedNote& n : sorted) {
    if (n.start - sounding >= PIECE_SILENCE) {
      silent += n.start - sounding;
      const double middle = (sounding + n.start) / 2;
      spans.back().second = middle;
      spans.push_back({middle, EVER});
    }
    sounding = std::max(sounding, n.end);
  }
  return spans;
}

// The beats of a piece: the pulse induced from its onsets, the beats tracked free, and tracked
// again held to the player's time where they flow evenly; then at the level a listener counts.
// The clock the player kept by those beats, if any, joins `clocks`.
std::vector<double> playedBeats(const std::vector<grid::Onset>& onsets,
                                const std::vector<PlayedNote>& sorted, grid::Pulse& pulse,
                                std::vector<std::vector<double>>& clocks) {
  pulse = grid::inducePulse(onsets);
  std::vector<double> beats = grid::surfaceLevel(onsets, grid::trackBeats(onsets, pulse), sorted);
  const grid::Following following =
      grid::unevenness(beats) <= EVEN_BEATS || grid::unevenness(beats, 4) <= EVEN_FOURS
          ? grid::Following::Steady
          : grid::Following::Expressive;
  if (following == grid::Following::Steady)
    beats = grid::surfaceLevel(onsets, grid::trackBeats(onsets, pulse, following), sorted);
  beats = grid::stepLevel(onsets, grid::streamLevel(onsets, beats, sorted), sorted);
  if (grid::kitHalves(beats, sorted)) {
    beats = grid::halves(beats);
  } else if (std::vector<double> eighths = grid::halfBarLevel(onsets, beats);
             eighths.size() != beats.size()) {
    beats = std::move(eighths);
  } else if (grid::oddHalves(onsets, beats, sorted)) {
    // Bars of five or seven halves: the halves are tracked as the beat, as the beats found bend
    // toward the accents between them where a bar starts on a half (the last chord of a riff in
    // seven eighths, on an eighth the quarters miss). Where the tracker leaves the halves' level,
    // the halves of the beats found stay.
    grid::Pulse half = pulse;
    for (double& period : half.periods)
      period /= 2;
    std::vector<double> tracked = grid::trackBeats(onsets, half, following);
    std::vector<double> split = grid::halves(beats);
    if (std::abs(std::log(grid::medianPeriod(tracked) / grid::medianPeriod(split))) < 0.1)
      beats = std::move(tracked);
    else
      beats = std::move(split);
  }
  if (std::vector<double> clock = grid::keptClock(beats); !clock.empty())
    clocks.push_back(std::move(clock));
  return beats;
}

// The grid's beats where a piece kept a clock: the clock's own in place of those found over its
// span, and each bar line onto the beat nearest it. The bars were counted on the beats found,
// which sit on the onsets that mark them, where the accents are.
void keepClocks(Grid& grid, const std::vector<std::vector<double>>& clocks) {
  auto inClock = [&](double t) {
    for (const std::vector<double>& clock : clocks) {
      const double half = (clock.back() - clock.front()) / double(clock.size() - 1) / 2;
      if (t > clock.front() - half && t < clock.back() + half) return true;
    }
    return false;
  };
  std::vector<double> beats;
  for (double t : grid.beats)
    if (!inClock(t)) beats.push_back(t);
  for (const std::vector<double>& clock : clocks)
    beats.insert(beats.end(), clock.begin(), clock.end());
  std::sort(beats.begin(), beats.end());
  // beats[0] <= 0 < beats[1], as before.
  while (beats.size() > 2 && beats[1] <= 0)
    beats.erase(beats.begin());
  if (beats.front() > 0) beats.insert(beats.begin(), 2 * beats[0] - beats[1]);
  std::vector<size_t> downbeats;
  for (size_t k : grid.downbeats) {
    size_t at = size_t(std::lower_bound(beats.begin(), beats.end(), grid.beats[k]) - beats.begin());
    if (at == beats.size() || (at > 0 && grid.beats[k] - beats[at - 1] < beats[at] - grid.beats[k]))
      --at;
    if (beats[at] < 0) ++at; // the first bar line at or after second 0
    if (downbeats.empty() || at > downbeats.back()) downbeats.push_back(at);
  }
  grid.beats = std::move(beats);
  grid.downbeats = std::move(downbeats);
  grid.firstDownbeat = grid.downbeats.front();
}

// The beats of the next piece after `beats`, the silence between filled with beats at the pace
// of the last ones, the last of them no nearer the next piece's first beat than half a beat.
void join(std::vector<double>& beats, const std::vector<double>& next) {
  const double pace = beats[beats.size() - 1] - beats[beats.size() - 2];
  size_t filled = 0;
  for (; next.front() - beats.back() > 1.5 * pace; ++filled)
    beats.push_back(beats.back() + pace);
  if (filled > 0 && next.front() - beats.back() < 0.5 * pace) beats.pop_back();
  for (double t : next)
    if (t > beats.back()) beats.push_back(t);
}

// The meter and bar lines of one piece, by its notes, onsets and beats alone; bar lines as
// indices among all the beats. Where the beats flow evenly, the bar lines of whole bars tracked
// at once: a clock's beats are even by construction, and a player following a clock plays bars
// of one length, what the whole bars model, where the count may slip a beat on a contrary
// accent.
grid::Meter meterOf(const std::vector<PlayedNote>& sorted, const std::vector<grid::Onset>& onsets,
                    const std::vector<double>& beats, const Piece& piece, int numerator,
                    int denominator) {
  // The piece's notes and onsets: the take's own where the piece is the whole take (a long take
  // is not held twice), else a copy of its span.
  const auto from = std::partition_point(
      sorted.begin(), sorted.end(), [&](const PlayedNote& n) { return n.start < piece.start; });
  const auto to = std::partition_point(from, sorted.end(),
                                       [&](const PlayedNote& n) { return n.start < piece.end; });
  const bool whole = from == sorted.begin() && to == sorted.end();
  const std::vector<PlayedNote> own =
      whole ? std::vector<PlayedNote>{} : std::vector<PlayedNote>(from, to);
  const std::vector<PlayedNote>& notes = whole ? sorted : own;
  const auto first = std::partition_point(
      onsets.begin(), onsets.end(), [&](const grid::Onset& o) { return o.time < piece.start; });
  const auto last = std::partition_point(first, onsets.end(),
                                         [&](const grid::Onset& o) { return o.time < piece.end; });
  const bool allHeard = first == onsets.begin() && last == onsets.end();
  const std::vector<grid::Onset> ownOnsets =
      allHeard ? std::vector<grid::Onset>{} : std::vector<grid::Onset>(first, last);
  const std::vector<grid::Onset>& heard = allHeard ? onsets : ownOnsets;
  const std::vector<double> counted(beats.begin() + long(piece.from),
                                    beats.begin() + long(piece.to));
  grid::Meter meter = grid::findMeter(notes, heard, counted, numerator, denominator);
  if (std::vector<size_t> bars = grid::trackBars(notes, heard, counted, meter.bars,
                                                 beatsPerBar(meter.numerator, meter.denominator));
      !bars.empty()) {
    meter.bars = std::move(bars);
    meter.phase = meter.bars.front();
  }
  for (size_t& k : meter.bars)
    k += piece.from;
  meter.phase += piece.from;
  return meter;
}

bool compound(int numerator, int denominator) {
  return beatsPerBar(numerator, denominator) != numerator;
}

// The meter of a take, piece by piece: a player who stops and starts again may start another
// piece, in another meter and on a bar line of its own. The take's meter is that of its longest
// piece; a piece counted in another unit (dotted quarters against quarters) keeps the take's,
// which the file's beats are counted in, and only its own bar lines. Silent bars of the take's
// meter fill each silence, the last one as long as the next piece's first bar line leaves it.
// `each`: every piece's meter as its bars are written.
grid::Meter meterOfPieces(const std::vector<PlayedNote>& sorted,
                          const std::vector<grid::Onset>& onsets, const std::vector<double>& beats,
                          const std::vector<Piece>& all, const GridOptions& options,
                          std::vector<std::pair<int, int>>& each) {
  // A piece before another ends a beat after its last onset. The beats after that run through
  // the silence, where nothing marks a first beat: counted with the piece, they left its bar
  // lines to chance there (every silent beat a bar line of its own, once the count had lost its
  // phase), and the silence made the piece look the longest.
  std::vector<Piece> pieces = all;
  for (size_t i = 0; i + 1 < pieces.size(); ++i) {
    const auto last = std::partition_point(
        onsets.begin(), onsets.end(), [&](const grid::Onset& o) { return o.time < pieces[i].end; });
    if (last == onsets.begin()) continue;
    const size_t after =
        size_t(std::upper_bound(beats.begin() + long(pieces[i].from),
                                beats.begin() + long(pieces[i].to), std::prev(last)->time) -
               beats.begin());
    pieces[i].to = std::clamp(after + 1, std::min(pieces[i].from + 2, pieces[i].to), pieces[i].to);
  }
  std::vector<grid::Meter> meters;
  for (const Piece& piece : pieces)
    meters.push_back(meterOf(sorted, onsets, beats, piece, options.numerator, options.denominator));
  each = {{meters.front().numerator, meters.front().denominator}};
  if (meters.size() == 1) return meters.front();
  each.clear();
  size_t longest = 0;
  for (size_t i = 1; i < pieces.size(); ++i)
    if (pieces[i].to - pieces[i].from > pieces[longest].to - pieces[longest].from) longest = i;
  grid::Meter take = meters[longest];
  const size_t bar = size_t(beatsPerBar(take.numerator, take.denominator));
  take.bars.clear();
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (compound(meters[i].numerator, meters[i].denominator) !=
        compound(take.numerator, take.denominator))
      meters[i] = meterOf(sorted, onsets, beats, pieces[i], take.numerator, take.denominator);
    each.push_back({meters[i].numerator, meters[i].denominator});
    std::vector<size_t> own = meters[i].bars;
    if (own.empty()) {
      const size_t length = size_t(beatsPerBar(meters[i].numerator, meters[i].denominator));
      for (size_t k = meters[i].phase; k < pieces[i].to; k += length)
        own.push_back(k);
    }
    if (own.empty()) continue;
    if (!take.bars.empty())
      for (size_t k = take.bars.back() + bar; k < own.front(); k += bar)
        take.bars.push_back(k);
    for (size_t k : own)
      if (take.bars.empty() || k > take.bars.back()) take.bars.push_back(k);
  }
  if (!take.bars.empty()) take.phase = take.bars.front();
  return take;
}

} // namespace

int beatsPerBar(int numerator, int denominator) {
  return denominator == 8 && numerator % 3 == 0 ? numerator / 3 : numerator;
}

double quartersPerBeat(int numerator, int denominator) {
  return 4.0 / denominator * (numerator / beatsPerBar(numerator, denominator));
}

Grid findGrid(std::vector<PlayedNote> notes, const GridOptions& options) {
  if (options.numerator < 0 ||
      (options.numerator > 0 && options.denominator != 4 && options.denominator != 8))
    throw std::invalid_argument("a meter is counted in quarters (x/4) or eighths (x/8)");
  // A clock's beats are laid over the whole take, and its period sets the size of their fit.
  if (options.knownBpm > 0 && !(options.knownBpm >= 1 && options.knownBpm <= 1000))
    throw std::invalid_argument("a known tempo is 1 to 1000 BPM");
  const std::vector<PlayedNote> sorted = grid::sortedNotes(std::move(notes));
  double end = 0;
  for (const PlayedNote& n : sorted)
    end = std::max({end, n.start, n.end});
  const std::vector<grid::Onset> onsets = grid::makeOnsets(sorted);
  if (onsets.size() < FEWEST_ONSETS) return noPulse();
  double silent = 0;
  const std::vector<std::pair<double, double>> spans = pieceSpans(sorted, silent);
  if (end - sorted.front().start - silent >
          MOST_SECONDS_PER_ONSET * double(onsets.size()) + SPARSE_GRACE ||
      std::max(0.0, sorted.front().start) + silent > MOST_SILENCE)
    return noPulse();

  // Each piece's beats are found from its own playing, as another piece may go at another
  // tempo; a clock's beats run through the take, and only the bars are the pieces' own.
  grid::Pulse pulse;
  std::vector<double> beats;
  std::vector<Piece> pieces;
  std::vector<std::vector<double>> clocks; // of the pieces whose player kept one
  if (options.knownBpm > 0) {
    pulse.periods = {60 / options.knownBpm};
    beats = grid::fixedBeats(onsets, pulse.periods[0]);
    // A host and a DAW count quarters, while the counted beat of 7/8 is the eighth and that of
    // 6/8 the dotted quarter: bars of five or seven eighths played to a clock of quarters (a
    // riff in 7/8 to the host's 135) are counted in the clock's halves, and a 6/8 to the host's
    // 150 in one and a half of its beats. The quarter's tempo is still the one given. A meter
    // given in quarters keeps the clock's beat.
    double counted = pulse.periods[0];
    if (grid::oddHalves(onsets, beats, sorted)) {
      beats = grid::halves(beats);
      counted /= 2;
    } else if (options.numerator == 0 || compound(options.numerator, options.denominator)) {
      if (std::vector<double> dotted = grid::dottedClock(onsets, beats, counted); !dotted.empty()) {
        beats = std::move(dotted);
        counted *= 1.5;
      }
    }
    // As sure of the pulse as the playing shows it at the beat counted: a clock given wrongly
    // leaves a grid that says it is unsure.
    pulse.strength = grid::inducePulse(onsets, counted).strength;
    for (const auto& [start, stop] : spans) {
      const size_t from =
          size_t(std::lower_bound(beats.begin(), beats.end(), start) - beats.begin());
      if (pieces.empty() || from > pieces.back().from + 1)
        pieces.push_back({from, 0, start, stop});
      else
        pieces.back().end = stop;
    }
  } else if (spans.size() == 1) {
    beats = playedBeats(onsets, sorted, pulse, clocks);
    pieces.push_back({0, 0, spans[0].first, spans[0].second});
  } else {
    size_t most = 0;
    for (const auto& [start, stop] : spans) {
      std::vector<grid::Onset> own;
      for (const grid::Onset& o : onsets)
        if (o.time >= start && o.time < stop) own.push_back(o);
      grid::Pulse found;
      const std::vector<double> next = own.size() < FEWEST_ONSETS
                                           ? std::vector<double>{}
                                           : playedBeats(own, sorted, found, clocks);
      // A piece too short to find a pulse in is heard as part of the one before.
      if (next.size() < 2) {
        if (!pieces.empty()) pieces.back().end = stop;
        continue;
      }
      if (beats.empty())
        beats = next;
      else
        join(beats, next);
      const size_t from =
          size_t(std::lower_bound(beats.begin(), beats.end(), next.front()) - beats.begin());
      pieces.push_back({pieces.empty() ? 0 : from, 0, start, stop});
      if (next.size() > most) most = next.size(), pulse = found;
    }
  }
  if (beats.size() < 2 || pieces.empty()) return noPulse();
  for (size_t i = 0; i < pieces.size(); ++i)
    pieces[i].to = i + 1 < pieces.size() ? pieces[i + 1].from : beats.size();
  std::vector<std::pair<int, int>> pieceMeters;
  const grid::Meter meter = meterOfPieces(sorted, onsets, beats, pieces, options, pieceMeters);

  // Beats go on at the pace of the nearest ones before the first note and after the last.
  const double before = period(beats, 0, +1), after = period(beats, beats.size() - 2, -1);
  size_t added = 0;
  std::vector<double> all;
  for (double t = beats.front(); t > 0; t -= before)
    ++added;
  for (size_t k = added; k > 0; --k)
    all.push_back(beats.front() - double(k) * before);
  all.insert(all.end(), beats.begin(), beats.end());
  for (size_t k = 1; all.back() < end || all.size() < 2; ++k)
    all.push_back(beats.back() + double(k) * after);
  // beats[0] <= 0 < beats[1]: drop what precedes the take.
  size_t drop = 0;
  while (drop + 1 < all.size() && all[drop + 1] <= 0)
    ++drop;
  all.erase(all.begin(), all.begin() + long(drop));

  Grid grid;
  grid.pulse = true;
  grid.pieces = std::move(pieceMeters);
  grid.beats = std::move(all);
  grid.numerator = meter.numerator;
  grid.denominator = meter.denominator;
  const size_t bar = size_t(beatsPerBar(meter.numerator, meter.denominator));
  const long phase = long(meter.phase + added) - long(drop);
  size_t first = size_t(((phase % long(bar)) + long(bar)) % long(bar));
  if (grid.beats[first] < 0) first += bar;
  while (grid.beats.size() <= first)
    grid.beats.push_back(grid.beats.back() + after);
  grid.firstDownbeat = first;
  // The bar lines found among the tracked beats, and whole bars before and after them.
  const long shift = long(added) - long(drop);
  for (size_t k : meter.bars)
    if (long(k) + shift >= long(first)) grid.downbeats.push_back(size_t(long(k) + shift));
  if (grid.downbeats.empty() || grid.downbeats.front() != first) {
    std::vector<size_t> lead;
    const size_t until = grid.downbeats.empty() ? grid.beats.size() : grid.downbeats.front();
    for (size_t k = first; k < until && (grid.downbeats.empty() || k + bar <= until); k += bar)
      lead.push_back(k);
    grid.downbeats.insert(grid.downbeats.begin(), lead.begin(), lead.end());
  }
  for (size_t k = grid.downbeats.back() + bar; k < grid.beats.size(); k += bar)
    grid.downbeats.push_back(k);
  grid.confidence =
      std::clamp((pulse.strength - 1) / 3, 0.0, 1.0) * std::clamp(0.5 + meter.strength, 0.0, 1.0);
  if (!clocks.empty()) keepClocks(grid, clocks);
  return grid;
}

} // namespace quorb
