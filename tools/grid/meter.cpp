// Meter and bar lines from what marks the first beat of a bar: loud and full chords, a new bass
// note, long notes and a change of harmony (Temperley 2001; Grohganz, Clausen and Mueller 2014);
// threes or twos from how those accents recur (J. C. Brown, Determination of the meter of musical
// scores by autocorrelation, Journal of the Acoustical Society of America 94(4), 1993) and how the
// rhythm within the beats recurs (Foote and Cooper 2001, see grid.cpp).

#include "grid_parts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace quorb::grid {

namespace {

using Chroma = std::array<double, 12>;

// A change of phase must be earned by about this many bars whose first beats stand out as much
// as the take's do on average.
constexpr double JUMP_BARS = 8;
// ... and by proportionally more where the first beats stand out by more than this share of the
// spread of all accents: a take whose bars read so plainly has kept its count, and a few bars of
// contrary accents are the music's own (a syncopation, a phrase across the bar line), not a beat
// the tracker lost. Where the count did slip, the accents folded at one phase blur and the
// share stays low.
constexpr double PLAIN_BARS = 0.1;
// ... and by this many times more where the beats flow evenly: the tracker loses or adds a beat
// where the playing turns uneven (a held chord, a rush, a run the tracker took for the pulse), so
// the beat intervals around a slip stray from the local ones; where none strays by more than
// UNEVEN (a log ratio, about a fifth), contrary accents are the music's.
constexpr double EVEN_JUMP = 2;
constexpr double UNEVEN = 0.2;
// Four beats a bar only when the first beat stands above the third by at least this share of the
// spread of all accents. A bar of four read with its halves swapped puts every bar line on a
// beat where none is, while two beats a bar on music in four still marks every bar line (and one
// more between): where the first and third beats are hardly told apart, two is the safer count.
constexpr double FOUR_CLEAR = 0.2;
// ... and only when that lead still holds with each bar judged by the others: every bar's first
// beat against its third, signed by the lead of all the other bars (leave-one-out). A lead that
// is the music's recurs from bar to bar, so the other bars predict each one; a lead that a few
// loud bars make (a climax, a phrase's accented chords falling on the half bar elsewhere) flips
// when each of them is left out, and the measure falls to zero or below. Leaving the bar out
// also frees the measure of the bias of a phase chosen on the same accents.
// Long notes starting at a beat count twice: a note held from a beat marks the start of a bar
// more reliably than loudness, which follows the player's phrasing (Lerdahl and Jackendoff's
// preference for strong beats on long events; Temperley 2001).
constexpr double LENGTH_WEIGHT = 2;
// The scale at which accents become log-probabilities of the position in the bar: a beat whose
// accent stands out by the spread of all accents counts this many nats for being a first beat.
// Larger comes nearer the single best way (below); the bar lines change little from half to
// twice this.
constexpr double BELIEF = 2;
// A change of position by other than one beat added or lost costs this many changes.
constexpr double FAR_JUMP = 2;
// How much the recurrence of the rhythm within the beats weighs against that of the accents in
// telling bars of three from bars of two and four: its peaks, differences of cosines, stand about
// a quarter as tall as the accents' correlations, so that at this weight they count alike.
constexpr double RHYTHM_WEIGHT = 4;
// Bars of five or seven need each half of the take to recur at them by this much more than at
// the usual bars (a piece in two, three or four reached 0.15 on steady beats, 0.38 on a rubato
// reading at the wrong level; takes in five or seven 0.43 and up), each half to hold this many
// of them, and the beats to change by a median of at most ODD_EVEN (a log ratio) from one
// interval to the next.
constexpr double ODD_CLEAR = 0.3;
constexpr size_t ODD_HALF_BARS = 4;
constexpr double ODD_EVEN = 0.1;
// Bars of five or seven beats faster than this (seconds, 200 BPM) count eighths: a riff in seven
// at 135 a quarter is 7/8, as a musician writes it, not 7/4 at 270.
constexpr double FASTEST_QUARTER = 0.3;
// A figure a beat long repeats in all but this share of the beats; and loudness marks bars only
// where it recurs at their length by more than CHANCE (random velocities reached 0.21 in 360
// takes of 24 to 96 beats, an accent of 20 velocity steps every third beat 0.29 to 0.58), and
// where it varies by more than EVEN_LOUDNESS of its mean (equal notes vary by a few thousandths,
// as each onset's weight takes in the notes around it; one velocity step makes 3 %).
constexpr double ALIKE_SHARE = 0.95;
constexpr double CHANCE = 0.3;
constexpr double EVEN_LOUDNESS = 0.01;
// Four on the floor: a kit's kick on at least this share of the beats struck, where the backbeat
// counts against a first beat this much (in units of the other features' mean).
constexpr double FLOOR = 0.9;
constexpr double BACKBEAT = 0.5;
// A backbeat on every beat comes at most this often (seconds, 200 BPM): kick and snare alternating
// every quarter of a second are a polka's oom-pah at 120, not a rock beat at 240.
constexpr double FASTEST_BACKBEAT = 0.3;
// A clock's dotted beats are the counted ones where they divide in three and their onsets weigh
// this much more than on the clock's beats. At 40-200 BPM, by either player, the 6/8 takes weigh
// 1.58-1.67 times as much on their dotted beats, the takes in two, three, four, five and seven
// 0.52-1.14 times; 42 piano performances given their counted beat's tempo at most 1.05 times.
constexpr double DOTTED_MARGIN = 1.25;

double distance(const Chroma& a, const Chroma& b) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < 12; ++i) {
    ab += a[i] * b[i];
    aa += a[i] * a[i];
    bb += b[i] * b[i];
  }
  return aa > 0 && bb > 0 ? 1 - ab / std::sqrt(aa * bb) : 0;
}

// How near a beat a note is still heard at it: a listener's tolerance, less for fast beats.
double heardAt(double period) { return std::min(0.07, 0.2 * period); }

// Keys of a General MIDI drum kit: its kicks, and what plays the backbeat (side stick, snares,
// clap).
bool kick(int key) { return key == 35 || key == 36; }
bool backbeat(int key) { return key >= 37 && key <= 40; }

// Whether a drum kit played the take: nearly every note on a kit's drum keys (35-59), kicks and a
// backbeat among them, and most kicks struck together with another key, as no bass line (which
// may use the same keys, one note at a time) does.
bool playedOnKit(const std::vector<PlayedNote>& sorted) {
  size_t onKit = 0, kicks = 0, backbeats = 0, together = 0;
  for (size_t i = 0; i < sorted.size(); ++i) {
    const int key = sorted[i].pitch;
    onKit += key >= 35 && key <= 59;
    backbeats += backbeat(key);
    if (!kick(key)) continue;
    ++kicks;
    // The keys struck with it: a chord's few neighbours each way.
    bool joined = false;
    for (size_t j = i; j-- > 0 && j + 8 > i && sorted[i].start - sorted[j].start <= MERGE;)
      joined = joined || !kick(sorted[j].pitch);
    for (size_t j = i + 1;
         j < sorted.size() && j < i + 8 && sorted[j].start - sorted[i].start <= MERGE; ++j)
      joined = joined || !kick(sorted[j].pitch);
    together += joined;
  }
  const double n = double(sorted.size());
  return double(onKit) >= 0.98 * n && double(kicks) >= 0.1 * n && double(backbeats) >= 0.05 * n &&
         double(together) >= 0.5 * double(kicks);
}

// What one beat holds of each feature of beatAccents, before the features are weighed against
// their means.
struct BeatFeatures {
  double weight = 0, length = 0, backLength = 0, backbeats = 0, change = 0;
};

// Reads the beats in order, each from the notes and onsets around it: `next()` gives beat k's
// features and sets low[k] to its lowest new note (128: none).
class BeatReader {
public:
  BeatReader(const std::vector<PlayedNote>& sorted, const std::vector<Onset>& onsets,
             const std::vector<double>& beats, bool kit, std::vector<uint8_t>& low)
      : sorted_(sorted), onsets_(onsets), beats_(beats), kit_(kit), low_(low) {}

  BeatFeatures next() {
    const size_t n = beats_.size(), k = k_++;
    BeatFeatures f;
    const double period = k + 1 < n ? beats_[k + 1] - beats_[k] : beats_[k] - beats_[k - 1];
    const double near = heardAt(period);
    while (o_ < onsets_.size() && onsets_[o_].time < beats_[k] - near)
      ++o_;
    for (size_t i = o_; i < onsets_.size() && onsets_[i].time <= beats_[k] + near; ++i)
      f.weight += onsets_[i].weight;
    while (s_ < sorted_.size() && sorted_[s_].start < beats_[k] - near)
      ++s_;
    chroma_.fill(0);
    int low = 128;
    for (size_t i = s_; i < sorted_.size() && sorted_[i].start < beats_[k] + period - near; ++i) {
      const PlayedNote& note = sorted_[i];
      const double held = std::min(note.end - note.start, 2 * period);
      chroma_[note.pitch % 12] += held * note.velocity;
      if (note.start <= beats_[k] + near) {
        const bool back = kit_ && backbeat(note.pitch);
        (back ? f.backLength : f.length) += held / period * note.velocity / 127.0;
        if (back) f.backbeats += note.velocity / 127.0;
        low = std::min<int>(low, note.pitch);
      }
    }
    low_[k] = uint8_t(low);
    if (k > 0) f.change = distance(before_, chroma_);
    before_ = chroma_;
    return f;
  }

private:
  const std::vector<PlayedNote>& sorted_;
  const std::vector<Onset>& onsets_;
  const std::vector<double>& beats_;
  const bool kit_;
  std::vector<uint8_t>& low_;
  size_t k_ = 0, o_ = 0, s_ = 0;
  Chroma chroma_{}, before_{}; // this beat's pitch classes and the last one's
};

// Low against the beats around it; a beat with no new note has no bass.
double bassAt(const std::vector<uint8_t>& low, size_t k) {
  if (low[k] == 128) return 0;
  double sum = 0;
  int count = 0;
  for (size_t i = k >= 8 ? k - 8 : 0; i < std::min(low.size(), k + 9); ++i)
    if (low[i] < 128) sum += low[i], ++count;
  return std::max(0.0, sum / count - low[k] + 2);
}

// What a feature is multiplied by to divide it by its mean over the `n` beats, from its sum, so
// that none outweighs the others by its units. A feature absent but for rounding stays absent:
// the cosine distance of two chords of the same pitch classes comes out at 1e-16 rather than 0,
// and divided by a mean of such residues one beat would outweigh all the others of a take played
// on one key or one chord.
double scale(double sum, size_t n) { return sum > 1e-9 * double(n) ? double(n) / sum : 0; }

} // namespace

// How strongly each beat sounds like the first of a bar. Each feature is weighed against its mean
// over the take, so the beats are read twice, for the sums and then for the accents: a take of
// hours holds a number per beat and a byte, not one per feature (a sparse one has more beats
// than notes).
std::vector<double> beatAccents(const std::vector<PlayedNote>& sorted,
                                const std::vector<Onset>& onsets,
                                const std::vector<double>& beats) {
  const size_t n = beats.size();
  if (n < 2) return std::vector<double>(n, 0.0); // no period to measure a beat by
  // Four on the floor: on a drum kit, the kick on every beat and the snare or clap on every other
  // one. The backbeat, not the first beat, gets the most notes, so there it counts against a
  // first beat, and its notes add no length. Not where the kick leaves beats out: the kick, the
  // lowest note, marks the first beat already, and a backbeat counted as well would outweigh
  // what tells a bar of four from two (a kick after the second beat, not after the fourth).
  const bool kit = playedOnKit(sorted);
  std::vector<uint8_t> low(n, 128);
  size_t kicked = 0, struck = 0;
  double weights = 0, lengths = 0, allLengths = 0, backbeats = 0, changes = 0;
  BeatReader sums(sorted, onsets, beats, kit, low);
  for (size_t k = 0; k < n; ++k) {
    const BeatFeatures f = sums.next();
    weights += f.weight;
    lengths += f.length;
    allLengths += f.length + f.backLength;
    backbeats += f.backbeats;
    changes += f.change;
    struck += low[k] < 128;
    kicked += kit && kick(low[k]);
  }
  const bool floor = double(kicked) >= FLOOR * double(struck);
  // The bass moving to another pitch class than at the last beat with a new bass note: the
  // harmony's root changes at the bar line more than within the bar, and a bass that repeats its
  // note or octave keeps the harmony however loud it is played.
  std::vector<double> accent(n, 0.0); // the new bass first, then every feature
  double basses = 0, newBasses = 0;
  for (size_t k = 0, last = n; k < n; ++k) {
    basses += bassAt(low, k);
    if (low[k] == 128) continue;
    if (last < n && low[last] % 12 != low[k] % 12) accent[k] = 1, newBasses += 1;
    last = k;
  }
  const double weightScale = scale(weights, n), bassScale = scale(basses, n),
               lengthScale = scale(floor ? lengths : allLengths, n),
               changeScale = scale(changes, n), newBassScale = scale(newBasses, n),
               backbeatScale = scale(floor ? backbeats : 0, n);
  BeatReader read(sorted, onsets, beats, kit, low);
  for (size_t k = 0; k < n; ++k) {
    const BeatFeatures f = read.next();
    const double length = floor ? f.length : f.length + f.backLength;
    accent[k] = f.weight * weightScale + bassAt(low, k) * bassScale +
                LENGTH_WEIGHT * (length * lengthScale) + f.change * changeScale +
                accent[k] * newBassScale - BACKBEAT * ((floor ? f.backbeats : 0) * backbeatScale);
  }
  return accent;
}

std::vector<double> accentExcess(const std::vector<double>& accent) {
  const size_t n = accent.size();
  std::vector<double> around(n + 1, 0.0), excess(n); // running sums
  for (size_t k = 0; k < n; ++k)
    around[k + 1] = around[k] + accent[k];
  for (size_t k = 0; k < n; ++k) {
    const size_t first = k >= 8 ? k - 8 : 0, last = std::min(n, k + 9);
    excess[k] = accent[k] - (around[last] - around[first]) / double(last - first);
  }
  return excess;
}

namespace {

// Where the onsets within each beat fall, in twelfths of the beat so that eighths, sixteenths
// and triplets each have places of their own: how many onsets at each, a few at most (onsets
// are 30 ms apart or more), so that a take's beats hold 12 bytes each.
using Rhythm = std::array<uint8_t, 12>;

std::vector<Rhythm> rhythms(const std::vector<Onset>& onsets, const std::vector<double>& beats) {
  const size_t n = beats.size();
  std::vector<Rhythm> rhythm(n, Rhythm{});
  size_t o = 0;
  for (size_t k = 0; k + 1 < n; ++k) {
    const double period = beats[k + 1] - beats[k];
    const double near = heardAt(period);
    while (o < onsets.size() && onsets[o].time < beats[k] - near)
      ++o;
    for (size_t i = o; i < onsets.size() && onsets[i].time < beats[k + 1] - near; ++i) {
      const long part = std::lround((onsets[i].time - beats[k]) / period * 12);
      uint8_t& at = rhythm[k][size_t(std::clamp(part, 0L, 11L))];
      at = uint8_t(std::min(at + 1, 255));
    }
  }
  return rhythm;
}

// How far the rhythm within the beats [from, to) recurs `lag` beats apart more than one beat
// nearer or farther: the mean cosine of the beats' rhythms at that lag against the mean of the
// two beside it. A figure repeated bar by bar makes a peak at the bar's length and its multiples,
// where rhythms that only run on (a melody slowing into longer notes) fall off with the lag
// smoothly. Two silent beats count as alike.
double rhythmPeak(const std::vector<Rhythm>& rhythm, size_t lag, size_t from, size_t to) {
  auto recurrence = [&](size_t apart) {
    double sum = 0;
    size_t count = 0;
    for (size_t k = from; k + apart + 1 < to; ++k, ++count) {
      double ab = 0, aa = 0, bb = 0;
      for (size_t i = 0; i < 12; ++i) {
        const int a = rhythm[k][i], b = rhythm[k + apart][i];
        ab += a * b;
        aa += a * a;
        bb += b * b;
      }
      sum += aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : aa == bb;
    }
    return count > 0 ? sum / double(count) : 0.0;
  };
  return recurrence(lag) - (recurrence(lag - 1) + recurrence(lag + 1)) / 2;
}

// How strongly the beats [from, to) recur at bars of `lags` beats: the accents' correlation at
// those lags against their spread (Brown 1993), and the rhythm within the beats' peaks there
// (Foote and Cooper's self-similarity), each averaged over the lags.
double recurrence(const std::vector<double>& accent, const std::vector<Rhythm>& rhythm, size_t from,
                  size_t to, std::initializer_list<size_t> lags) {
  double mean = 0, spread = 0;
  for (size_t k = from; k < to; ++k)
    mean += accent[k];
  mean /= double(to - from);
  for (size_t k = from; k < to; ++k)
    spread += (accent[k] - mean) * (accent[k] - mean);
  spread = std::sqrt(spread / double(to - from));
  double alike = 0, peaks = 0;
  for (size_t lag : lags) {
    double sum = 0;
    size_t count = 0;
    for (size_t k = from; k + lag < to; ++k)
      sum += (accent[k] - mean) * (accent[k + lag] - mean), ++count;
    alike += count > 0 ? sum / double(count) / std::max(spread * spread, 1e-12) : 0.0;
    peaks += rhythmPeak(rhythm, lag, from, to);
  }
  return (alike + RHYTHM_WEIGHT * peaks) / double(lags.size());
}

// Whether each half of the beats, on its own, recurs at `lags` (bars of `odd` beats) clearly
// more than at three or at two and four.
bool oddBars(const std::vector<double>& accent, const std::vector<Rhythm>& rhythm, size_t odd,
             std::initializer_list<size_t> lags) {
  const size_t n = accent.size();
  bool clear = n >= ODD_HALF_BARS * 2 * odd;
  for (size_t half = 0; half < 2 && clear; ++half) {
    const size_t from = half * n / 2, to = (half + 1) * n / 2;
    const double usual = std::max(recurrence(accent, rhythm, from, to, {3, 9}),
                                  recurrence(accent, rhythm, from, to, {2, 4, 8}));
    clear = recurrence(accent, rhythm, from, to, lags) - usual > ODD_CLEAR;
  }
  return clear;
}

// The first beat the playing starts on: the first not before the first onset, allowing a
// listener's tolerance.
size_t firstPlayed(const std::vector<Onset>& onsets, const std::vector<double>& beats) {
  size_t first = 0;
  while (first + 1 < beats.size() &&
         beats[first] < onsets.front().time - heardAt(beats[first + 1] - beats[first]))
    ++first;
  return first;
}

// Whether nothing marks a bar line: the beats the playing spans strike the same keys in the same
// order, all but a few (where the take starts or stops as it will, or the tracker's
// first or last beat strays), as a machine repeating a figure a beat long does (one chord held
// on an arpeggiator); and their accents, which then differ only in loudness, are even or recur
// at no bar's length beyond chance (`recurs`, the most they recur at bars of two, three or four).
bool unmarked(const std::vector<PlayedNote>& sorted, const std::vector<Onset>& onsets,
              const std::vector<double>& beats, const std::vector<double>& accent, double recurs) {
  if (onsets.empty()) return false;
  const size_t from = firstPlayed(onsets, beats);
  size_t to = from;
  while (to + 1 < beats.size() && beats[to + 1] <= onsets.back().time)
    ++to;
  if (to < from + 16) return false;
  // Each beat's figure: its onsets in order, each by the keys struck at it (in any order, as a
  // hand strikes a chord's keys a few milliseconds apart either way).
  std::vector<uint64_t> figure(to - from, 0);
  size_t o = 0, s = 0;
  double sum = 0, squares = 0;
  for (size_t k = from; k < to; ++k) {
    const double near = heardAt(beats[k + 1] - beats[k]);
    while (o < onsets.size() && onsets[o].time < beats[k] - near)
      ++o;
    for (; o < onsets.size() && onsets[o].time < beats[k + 1] - near; ++o) {
      const double until = o + 1 < onsets.size() ? onsets[o + 1].time : onsets[o].time + 1;
      while (s < sorted.size() && sorted[s].start < onsets[o].time)
        ++s;
      uint64_t keys = 0;
      for (; s < sorted.size() && sorted[s].start < until; ++s)
        keys += (uint64_t(sorted[s].pitch) + 1) * 0x9E3779B97F4A7C15u;
      figure[k - from] = figure[k - from] * 1000003 + keys;
    }
    sum += accent[k], squares += accent[k] * accent[k];
  }
  const uint64_t middle = figure[figure.size() / 2];
  const size_t same = size_t(std::count(figure.begin(), figure.end(), middle));
  if (double(same) < ALIKE_SHARE * double(figure.size())) return false;
  const double mean = sum / double(to - from);
  const double spread = std::sqrt(std::max(0.0, squares / double(to - from) - mean * mean));
  return recurs < CHANCE || spread <= EVEN_LOUDNESS * mean;
}

// Whether beats divide in three (compound meter: the counted beat is a dotted quarter).
bool dividesInThree(const std::vector<Onset>& onsets, const std::vector<double>& beats) {
  double three = 0, two = 0, total = 0;
  size_t k = 0;
  for (const Onset& o : onsets) {
    while (k + 1 < beats.size() && beats[k + 1] <= o.time)
      ++k;
    if (k + 1 >= beats.size() || o.time < beats[k]) continue;
    const double phase = (o.time - beats[k]) / (beats[k + 1] - beats[k]);
    total += o.weight;
    if (std::abs(phase - 1.0 / 3) < 0.06 || std::abs(phase - 2.0 / 3) < 0.06) three += o.weight;
    if (std::abs(phase - 0.5) < 0.06 || std::abs(phase - 0.25) < 0.04 ||
        std::abs(phase - 0.75) < 0.04)
      two += o.weight;
  }
  return three > 1.5 * two && three > 0.1 * total;
}

// What a change of phase costs at each beat: `jump`, times EVEN_JUMP unless an interval into or
// out of the beat or its neighbours strays from the median of those within eight beats.
std::vector<double> jumpCosts(const std::vector<double>& beats, double jump) {
  const size_t n = beats.size();
  std::vector<double> gap(n, 0), costs(n, jump);
  for (size_t k = 1; k < n; ++k)
    gap[k] = beats[k] - beats[k - 1];
  std::vector<double> near;
  for (size_t k = 1; k < n; ++k) {
    near.assign(gap.begin() + long(k >= 9 ? k - 8 : 1), gap.begin() + long(std::min(n, k + 9)));
    const double middle = median(near);
    bool even = true;
    for (size_t i = std::max<size_t>(k, 2) - 1; i <= std::min(n - 1, k + 1); ++i)
      even = even && std::abs(std::log(gap[i] / middle)) <= UNEVEN;
    if (even) costs[k] *= EVEN_JUMP;
  }
  return costs;
}

// The mean lead of the first beat over the third in bars of four from beat `phase`, each bar's
// lead signed by that of all the other bars, in units of the accents' spread.
double heldOutLead(const std::vector<double>& accent, size_t phase, double spread) {
  std::vector<double> lead;
  double total = 0;
  for (size_t k = phase; k + 2 < accent.size(); k += 4) {
    lead.push_back(accent[k] - accent[k + 2]);
    total += lead.back();
  }
  if (lead.empty()) return 0;
  double sum = 0;
  for (double x : lead) {
    const double others = total - x;
    sum += others > 0 ? x : others < 0 ? -x : 0;
  }
  return sum / double(lead.size()) / std::max(spread, 1e-9);
}

// The first beat of every bar, from the position in the bar tracked beat by beat: a beat
// advances the position by one; any other position costs `jump[k]`, so that a beat missed or
// added by the tracker shifts the bars from there on instead of leaving them out of phase for
// the rest of the take. A first beat earns its accent's excess over the mean of the beats
// within eight of it (a loud or busy passage raises every beat alike), the others their share
// of the deficit. Costs and earnings are log-probabilities in units of `spread` / BELIEF.
//
// Each beat is taken as a first beat where that is the most probable position over all the
// ways the count may have run (forward-backward), not on the single best way (Viterbi): after a
// slip the accents often stay ambiguous for some bars, and the single best way must put the
// change of phase at one beat, getting every bar line up to the right one wrong when it guesses
// wrong; the posterior weighs the places the slip may have been and each bar line follows the
// evidence around it.
std::vector<size_t> barStarts(const std::vector<double>& accent, int m,
                              const std::vector<double>& jump, double spread) {
  const size_t n = accent.size(), states = size_t(m);
  if (m == 1) {
    std::vector<size_t> every(n);
    for (size_t k = 0; k < n; ++k)
      every[k] = k;
    return every;
  }
  if (n == 0) return {};
  const double belief = BELIEF / std::max(spread, 1e-9);
  const std::vector<double> excess = accentExcess(accent);
  auto earned = [&](size_t k, size_t p) {
    return belief * (p == 0 ? excess[k] : -excess[k] / double(m - 1));
  };
  // From position q at beat k - 1 to p at beat k. A beat added keeps the position, one lost
  // moves it by two; any other change is two slips at once (FAR_JUMP).
  auto moved = [&](size_t k, size_t q, size_t p) {
    const size_t step = (p + states - q) % states;
    if (step == 1) return 0.0;
    return -belief * jump[k] * (step <= 2 ? 1 : FAR_JUMP) - std::log(double(states));
  };
  auto logSum = [](const std::vector<double>& v) {
    const double top = *std::max_element(v.begin(), v.end());
    double sum = 0;
    for (double x : v)
      sum += std::exp(x - top);
    return top + std::log(sum);
  };
  std::vector<double> forward(n * states), backward(n * states, 0.0), terms(states), ahead(states);
  for (size_t p = 0; p < states; ++p)
    forward[p] = earned(0, p);
  for (size_t k = 1; k < n; ++k)
    for (size_t p = 0; p < states; ++p) {
      for (size_t q = 0; q < states; ++q)
        terms[q] = forward[(k - 1) * states + q] + moved(k, q, p);
      forward[k * states + p] = logSum(terms) + earned(k, p);
    }
  for (size_t k = n - 1; k-- > 0;) {
    for (size_t q = 0; q < states; ++q)
      ahead[q] = backward[(k + 1) * states + q] + earned(k + 1, q);
    for (size_t p = 0; p < states; ++p) {
      for (size_t q = 0; q < states; ++q)
        terms[q] = ahead[q] + moved(k + 1, p, q);
      backward[k * states + p] = logSum(terms);
    }
  }
  std::vector<size_t> starts;
  for (size_t k = 0; k < n; ++k) {
    const double* f = &forward[k * states];
    const double* b = &backward[k * states];
    bool first = true;
    for (size_t p = 1; p < states; ++p)
      first = first && f[0] + b[0] >= f[p] + b[p];
    if (first) starts.push_back(k);
  }
  return starts;
}

} // namespace

Meter findMeter(const std::vector<PlayedNote>& sorted, const std::vector<Onset>& onsets,
                const std::vector<double>& beats, int numerator, int denominator) {
  Meter meter;
  if (beats.size() < 2) return meter;
  const std::vector<double> accent = beatAccents(sorted, onsets, beats);
  double mean = 0;
  for (double a : accent)
    mean += a;
  mean /= double(accent.size());
  // The contrast of a phase: how much its beats stand out from all beats.
  auto contrast = [&](int m, int phase) {
    double sum = 0;
    int count = 0;
    for (size_t k = size_t(phase); k < accent.size(); k += size_t(m))
      sum += accent[k], ++count;
    return count > 0 ? sum / count - mean : 0.0;
  };
  double spread = 0;
  for (double a : accent)
    spread += (a - mean) * (a - mean);
  spread = std::sqrt(spread / double(accent.size()));
  const int given = numerator > 0 ? beatsPerBar(numerator, denominator) : 0;
  int bestBar = given;
  // Where every beat strikes the same keys in the same order (one chord held on an
  // arpeggiator) and their loudness recurs at no bar's length beyond what chance makes of it,
  // nothing marks a bar line, and chance would pick the meter and its phase. A sequencer then
  // counts bars of four from where the playing starts, and a musician expects that count.
  const size_t n = accent.size();
  const std::vector<Rhythm> rhythm = rhythms(onsets, beats);
  const double threes = recurrence(accent, rhythm, 0, n, {3, 9});
  const double twos = recurrence(accent, rhythm, 0, n, {2, 4, 8});
  const bool blank = unmarked(sorted, onsets, beats, accent, std::max(threes, twos));
  if (blank && given == 0) bestBar = 4;
  if (given == 0 && !blank) {
    // Bars of three or of two and four, from how the accents recur: at lags of three and nine
    // beats (no multiple of two) against two, four and eight (no multiple of three). Unlike the
    // contrast of a phase, recurrence needs no phase: a beat the tracker lost or added spoils only
    // the few pairs across it, where folding the take at one phase blurs all of it (Brown 1993).
    // The music's figures say the same: an accompaniment or a rhythm repeated bar by bar recurs
    // at the bar's length whether or not its first beat is played louder or longer (Foote and
    // Cooper's self-similarity, here of the rhythm within each beat).
    bestBar = threes > twos ? 3 : 4;
    // Bars of five or seven (a jazz tune in five, a riff in seven) only where each half of the
    // take, on its own, recurs at that bar and its double clearly more than at three or at two
    // and four, where the beats flow evenly and divide in two: a piece in two, three or four
    // recurs at five or seven only by chance, seldom in both halves, and a rubato reading that
    // slipped a beat here and there can make any lag recur.
    if (unevenness(beats) <= ODD_EVEN && !dividesInThree(onsets, beats))
      for (size_t odd : {size_t(5), size_t(7)})
        if (oddBars(accent, rhythm, odd, {odd, 2 * odd})) bestBar = int(odd);
  }
  double best = -1e300;
  for (int phase = 0; phase < bestBar; ++phase)
    if (contrast(bestBar, phase) > best) {
      best = contrast(bestBar, phase);
      meter.phase = size_t(phase);
    }
  if (given == 0 && bestBar == 4 && !blank) {
    // Four beats a bar only when the third beat is weaker than the first: two bars of two
    // alike would score as one of four by chance alone. And clearly weaker, see FOUR_CLEAR.
    const int four = int(meter.phase);
    const double first = contrast(4, four), third = contrast(4, (four + 2) % 4);
    const double others = (contrast(4, (four + 1) % 4) + contrast(4, (four + 3) % 4)) / 2;
    bestBar = first - third >= 0.25 * (first - others) && first - third >= FOUR_CLEAR * spread &&
                      heldOutLead(accent, size_t(four), spread) > 0
                  ? 4
                  : 2;
    meter.phase = size_t(bestBar == 4 ? four : four % 2);
    best = contrast(bestBar, int(meter.phase));
  }
  meter.strength = std::max(0.0, best);
  const double plain = std::max(1.0, best / (PLAIN_BARS * std::max(spread, 1e-9)));
  meter.bars = barStarts(accent, bestBar,
                         jumpCosts(beats, JUMP_BARS * std::max(best, 0.05) * plain), spread);
  if (blank) {
    meter.bars.clear();
    for (size_t k = firstPlayed(onsets, beats) % size_t(bestBar); k < beats.size();
         k += size_t(bestBar))
      meter.bars.push_back(k);
    meter.strength = 0;
  }
  if (meter.bars.empty()) meter.bars.push_back(meter.phase);
  meter.phase = meter.bars.front();
  if (numerator > 0) {
    meter.numerator = numerator;
    meter.denominator = denominator;
  } else if (dividesInThree(onsets, beats)) {
    meter.numerator = 3 * bestBar;
    meter.denominator = 8;
  } else {
    meter.numerator = bestBar;
    meter.denominator = 4;
    if ((bestBar == 5 || bestBar == 7) && medianPeriod(beats) < FASTEST_QUARTER)
      meter.denominator = 8;
  }
  return meter;
}

// The prior prefers a beat near 120 BPM, so a vamp in five at 170 is first counted in half notes,
// bars of five of them holding two bars as played, and the beats fall on and off its accents by
// turns. Its halves recur at five halves (a bar) alone; the halves of a bar of five beats recur at
// ten, and at five only where the bar itself is five halves.
bool oddHalves(const std::vector<Onset>& onsets, const std::vector<double>& beats,
               const std::vector<PlayedNote>& sorted) {
  if (beats.size() < 2 || unevenness(beats) > ODD_EVEN || dividesInThree(onsets, beats))
    return false;
  const std::vector<double> split = halves(beats);
  const std::vector<double> accent = beatAccents(sorted, onsets, split);
  const std::vector<Rhythm> rhythm = rhythms(onsets, split);
  for (size_t odd : {size_t(5), size_t(7)})
    if (oddBars(accent, rhythm, odd, {odd})) return true;
  return false;
}

// Counted at half the drummer's tempo, a groove alternates kick and backbeat (snare, side stick,
// clap) at twice the beats' rate: the kick on every beat and the backbeat halfway between (a rock
// beat at 170 heard at 85), or the backbeat on every beat and the kick between (four on the floor
// at 170, counted from its snare). At the drummer's tempo the backbeat falls on every other beat,
// and it comes no faster than FASTEST_BACKBEAT.
bool kitHalves(const std::vector<double>& beats, const std::vector<PlayedNote>& sorted) {
  if (beats.size() < 8 || !playedOnKit(sorted) || medianPeriod(beats) < 2 * FASTEST_BACKBEAT)
    return false;
  size_t played = 0, s = 0;
  size_t kicks[2] = {0, 0}, backs[2] = {0, 0}; // beats struck there: at the beat, halfway
  for (size_t k = 0; k + 1 < beats.size(); ++k) {
    const double period = beats[k + 1] - beats[k], near = heardAt(period);
    while (s < sorted.size() && sorted[s].start < beats[k] - near)
      ++s;
    bool any = false, kicked[2] = {false, false}, backed[2] = {false, false};
    for (size_t i = s; i < sorted.size() && sorted[i].start < beats[k + 1] - near; ++i) {
      any = true;
      for (size_t at = 0; at < 2; ++at)
        if (std::abs(sorted[i].start - beats[k] - double(at) * period / 2) <= near) {
          kicked[at] = kicked[at] || kick(sorted[i].pitch);
          backed[at] = backed[at] || backbeat(sorted[i].pitch);
        }
    }
    played += any;
    for (size_t at = 0; at < 2; ++at)
      kicks[at] += kicked[at], backs[at] += backed[at];
  }
  const double most = FLOOR * double(played), few = (1 - FLOOR) * double(played);
  bool alternate = false;
  for (size_t at = 0; at < 2; ++at)
    alternate = alternate || (double(kicks[at]) >= most && double(backs[1 - at]) >= most &&
                              double(backs[at]) <= few);
  return played >= 8 && alternate;
}

namespace {

// The mean over the beats of the weight of the onsets heard on each.
double weightOnBeats(const std::vector<Onset>& onsets, const std::vector<double>& beats) {
  if (beats.size() < 2) return 0;
  const double near = heardAt(beats[1] - beats[0]);
  double sum = 0;
  size_t o = 0;
  for (double beat : beats) {
    while (o < onsets.size() && onsets[o].time < beat - near)
      ++o;
    for (size_t i = o; i < onsets.size() && onsets[i].time <= beat + near; ++i)
      sum += onsets[i].weight;
  }
  return sum / double(beats.size());
}

} // namespace

// Any eighths of the clock divide its dotted beats in three; a 6/8 also marks them (the bass,
// the longer notes), where a piece in two, three or four marks the clock's own beats.
std::vector<double> dottedClock(const std::vector<Onset>& onsets, const std::vector<double>& clock,
                                double period) {
  std::vector<double> dotted = fixedBeats(onsets, 1.5 * period);
  if (dividesInThree(onsets, dotted) &&
      weightOnBeats(onsets, dotted) > DOTTED_MARGIN * weightOnBeats(onsets, clock))
    return dotted;
  return {};
}

} // namespace quorb::grid
