// Beat tracking by dynamic programming over (time frame, beat period) (Ellis 2007, with the
// period as part of the state so that the tempo may drift as the playing does, and held beats
// after which it returns), then each beat moved onto the onset that marks it. The pulse's local
// period anchors the metrical level.

#include "grid_parts.h"
#include "paths.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstdint>
#include <limits>

namespace quorb::grid {

namespace {

constexpr int BAND = 16; // periods each side of the pulse's local one: up to x1.37
constexpr int REACH = 3; // period steps a beat may change from the one before
// Weights of the score of a beat sequence, in units of the mean onset weight:
constexpr double CHANGE = 60;     // per beat, times (log of the period ratio to the last beat)^2
constexpr double DRIFT = 2;       // per beat, times (log of the period ratio to the induced one)^2
constexpr double BEAT_COST = 0.1; // per beat, so that beats where nothing is played cost
constexpr double SNAP = 0.5;      // periods a tracked beat may move onto an onset, either side
// Following a player who keeps time, a change of period costs STEADY_CHANGE times as much and a
// beat moves onto an onset only within STEADY_SNAP periods.
constexpr double STEADY_CHANGE = 5;
constexpr double STEADY_SNAP = 0.1;
// A held beat: a player lengthens a beat at a phrase end or on a held chord and then resumes
// the tempo, which the path's period, turning a few percent a beat, cannot follow; it would
// put a beat into the silence or slip onto the off-beats. So a beat may last one of HELD
// periods when nothing is played over its last QUIET periods, at HELD_COST, and keep the
// period it had (the tempo returns). Never two in a row: held beats in a chain would stand in
// for a slower pulse.
constexpr double HELD[] = {1.2, 1.5, 1.8};
constexpr double QUIET = 0.5;
constexpr double HELD_COST = 0.25;
// A beat on no onset whose neighbours lie less than SQUEEZED local periods apart is dropped.
constexpr double SQUEEZED = 1.9;
// A clock kept: at least this share of the beats lie on it, within a tenth of a beat (at most 70
// ms), and half of them within CLOCK_SCATTER seconds: a player's hands around a click spread by
// 10-20 ms; where the tempo moves, beats near a line through them spread across the whole
// tolerance. On 42 piano performances played as recorded, no more than 0.66 of the beats lay
// on a line, half of them 20 ms off or more.
constexpr double CLOCK_SHARE = 0.7;
constexpr double CLOCK_SCATTER = 0.015;
// The clock runs from the first CLOCK_RUN beats on it in a row to the last, and on to either
// end where the beats there keep its period within CLOCK_PACE (a log ratio).
constexpr size_t CLOCK_RUN = 4;
constexpr double CLOCK_PACE = 0.03;
// The fastest beat counted when it is the surface pulse (200 BPM).
constexpr double FASTEST_SURFACE = 0.3;
// ... unless this share of the halves only strike again keys struck on the beats beside them.
constexpr double STREAM_SHARE = 0.75;
// Beats that alternate so, a stream of one key and the keys of the beat, are merged in twos
// where the pairs are at most this long (seconds).
constexpr double MERGE_SLOWEST = 1.0;
// Beats that are half a bar of five or seven eighths: nearly every onset (ODD_SHARE) on a grid
// of tenths (fourteenths) of two beats, while fewer than PLAIN_SHARE lie on one of eighths,
// twelfths or sixteenths of them, where any take in two, three or four has its notes; and the
// beats even (their intervals changing by a median of at most PARTS_EVEN, a log ratio).
constexpr double ODD_SHARE = 0.95;
constexpr double PLAIN_SHARE = 0.7;
constexpr double PARTS_EVEN = 0.1;

} // namespace

FrameLattice::FrameLattice(const std::vector<Onset>& onsets, double fastest, double slowest,
                           int margin)
    : lowest(stepsOf(fastest) - margin) {
  for (int steps = lowest; steps <= stepsOf(slowest) + margin; ++steps)
    lags.push_back(std::max(1, int(std::lround(FASTEST * std::pow(PERIOD_STEP, steps) / FRAME))));
  longest = lags.back();
  origin = onsets.front().time - longest * FRAME;
  first = size_t(longest);
  last = size_t(std::lround((onsets.back().time - origin) / FRAME));
  frames = last + size_t(longest) + 1;
}

int FrameLattice::stepsOf(double period) const {
  return int(std::lround(std::log(period / FASTEST) / std::log(PERIOD_STEP)));
}

size_t ringRows(size_t frames) {
  size_t rows = 1;
  while (rows < frames)
    rows *= 2;
  return rows;
}

namespace {

// Each beat moved onto the onset that most marks it within `within` beats either side (half a
// beat following a player who shapes the time): salience times closeness, falling linearly to
// nothing `within` beats away. The path keeps the pulse regular, but a played beat is where its
// onset is, and rubato moves single beats by more than the 70 ms a listener allows, further than
// the path's period may turn from one beat to the next. A beat with no onset near it stays where
// the path put it.
void snap(const std::vector<Onset>& onsets, std::vector<double>& beats, double within) {
  if (beats.size() < 2) return;
  const std::vector<double> path = beats;
  size_t i = 0;
  for (size_t k = 0; k < path.size(); ++k) {
    const double period = k == 0                 ? path[1] - path[0]
                          : k + 1 == path.size() ? path[k] - path[k - 1]
                                                 : (path[k + 1] - path[k - 1]) / 2;
    const double reach = within * period;
    while (i > 0 && onsets[i - 1].time >= path[k] - reach)
      --i;
    while (i < onsets.size() && onsets[i].time < path[k] - reach)
      ++i;
    double best = 0;
    for (size_t j = i; j < onsets.size() && onsets[j].time <= path[k] + reach; ++j) {
      const double v = onsets[j].salience * (1 - std::abs(onsets[j].time - path[k]) / reach);
      // Beats stay in order: one never moves onto or before the beat before it.
      if (v > best && (k == 0 || onsets[j].time > beats[k - 1])) {
        best = v;
        beats[k] = onsets[j].time;
      }
    }
  }
}

// A beat that sits on no onset is removed where the beats either side of it lie less than
// SQUEEZED local periods apart. In a steady pulse a beat on a rest leaves its neighbours two
// periods apart; squeezed between them it is the path's guess inside a lengthened beat, which
// would put one beat too many into the bar. The local period is the median of the intervals
// within AROUND beats.
void dropSqueezed(const std::vector<Onset>& onsets, std::vector<double>& beats) {
  constexpr size_t AROUND = 8;
  if (beats.size() < 2 * AROUND + 2) return;
  auto played = [&](double t) {
    const auto it = std::lower_bound(onsets.begin(), onsets.end(), t,
                                     [](const Onset& o, double x) { return o.time < x; });
    return it != onsets.end() && it->time == t; // snap puts a beat exactly on its onset
  };
  std::vector<double> kept{beats.front()}, window;
  for (size_t k = 1; k + 1 < beats.size(); ++k) {
    window.clear();
    for (size_t j = k > AROUND ? k - AROUND : 0; j < std::min(beats.size() - 1, k + AROUND); ++j)
      window.push_back(beats[j + 1] - beats[j]);
    if (beats[k + 1] - kept.back() < SQUEEZED * median(window) && !played(beats[k])) continue;
    kept.push_back(beats[k]);
  }
  kept.push_back(beats.back());
  beats = std::move(kept);
}

} // namespace

std::vector<double> trackBeats(const std::vector<Onset>& onsets, const Pulse& pulse,
                               Following following) {
  const bool steady = following == Following::Steady;
  // A state's period is counted in steps from the pulse's local period at its frame (`centre`,
  // in steps of PERIOD_STEP from FASTEST), so the band follows the tempo through the take.
  const int periods = 2 * BAND + 1;
  const double logStep = std::log(PERIOD_STEP);
  const auto [fast, slow] = std::minmax_element(pulse.periods.begin(), pulse.periods.end());
  const FrameLattice lattice(onsets, *fast, *slow, BAND + REACH);
  auto stepsOf = [&](double period) { return lattice.stepsOf(period); };
  auto lagOf = [&](int steps) { return lattice.lagOf(steps); };
  const int longest = lattice.longest;
  const double origin = lattice.origin;
  const size_t first = lattice.first, last = lattice.last, frames = lattice.frames;
  float prior[periods];
  for (int j = 0; j < periods; ++j)
    prior[j] = float(DRIFT * std::pow((j - BAND) * logStep, 2) + BEAT_COST);
  float change[2 * REACH + 1];
  for (int d = -REACH; d <= REACH; ++d)
    change[d + REACH] = float((steady ? STEADY_CHANGE : 1) * CHANGE * std::pow(d * logStep, 2));

  // score (beats after a beat of one period) and heldScore (beats after a held one) are kept for
  // the last `held` frames only. Per state, the way back to the beat before, in one byte: its
  // low four bits the steps the period changed (plus AFTER_HELD when that beat ended a held one;
  // the two kinds apart), its high four the entry of HELD the held state took; FIRST for none.
  constexpr int8_t START = std::numeric_limits<int8_t>::min();
  constexpr int8_t AFTER_HELD = 16;
  constexpr uint8_t FIRST = 15;
  auto pack = [](int8_t step, int8_t stretch) {
    const int low = step == START  ? FIRST
                    : step > REACH ? step - AFTER_HELD + 3 * REACH + 1
                                   : step + REACH;
    const int high = stretch == START ? FIRST : stretch;
    return uint8_t(low | high << 4);
  };
  auto stepOf = [](uint8_t way) {
    const int low = way & 15;
    return low == FIRST      ? START
           : low > 2 * REACH ? int8_t(low - 3 * REACH - 1 + AFTER_HELD)
                             : int8_t(low - REACH);
  };
  auto stretchOf = [](uint8_t way) { return int(way >> 4); };
  // Per period (indexed from the lattice's lowest), the frames each held length spans and the
  // quiet end it needs: worked out once, not at every frame.
  std::vector<size_t> heldGap, quietLag;
  for (int lag : lattice.lags) {
    for (double stretch : HELD)
      heldGap.push_back(size_t(std::lround(stretch * double(lag))));
    quietLag.push_back(size_t(QUIET * double(lag)));
  }
  const size_t held = size_t(std::ceil(longest * HELD[std::size(HELD) - 1])) + 1;
  const size_t ring = ringRows(held + 1), wrap = ring - 1;
  std::vector<float> score(ring * periods, 0.0f), heldScore(ring * periods, 0.0f);
  // Per frame of the ring: its band's centre, and the onsets at or before it (to find where
  // nothing is played).
  std::vector<int> centre(ring);
  std::vector<uint32_t> played(ring, 0);
  std::vector<long> onsetFrame;
  for (const Onset& o : onsets)
    onsetFrame.push_back(frameOf(o.time, origin));
  size_t spreadFrom = 0, playedTo = 0;
  // The way back from each frame's states: periods plain ones, then as many held.
  PathMemory ways(periods, 2 * periods);
  auto back = [&](PathNode at) -> PathNode {
    const bool endsHeld = at.state >= periods; // the beat before was held
    const int j = at.state - (endsHeld ? periods : 0);
    const uint8_t w = ways.row(at.frame)[j];
    const int steps = ways.centre(at.frame) + j - BAND;
    if (endsHeld) {
      const size_t r = size_t(stretchOf(w));
      if (r >= std::size(HELD)) return {};
      const size_t g = at.frame - size_t(std::lround(HELD[r] * double(lagOf(steps))));
      return {g, steps - ways.centre(g) + BAND};
    }
    int8_t step = stepOf(w);
    if (step == START) return {};
    const bool fromHeld = step > REACH;
    if (fromHeld) step = int8_t(step - AFTER_HELD);
    const size_t g = at.frame - size_t(lagOf(steps));
    return {g, steps - step - ways.centre(g) + BAND + (fromHeld ? periods : 0)};
  };
  constexpr float NONE = -std::numeric_limits<float>::infinity();
  auto live = [&](size_t g, int state) {
    const std::vector<float>& row = state < periods ? score : heldScore;
    return row[(g & wrap) * periods + size_t(state % periods)] > NONE;
  };
  float bestEnd = NONE;
  size_t endFrame = 0;
  int endState = BAND;
  bool endHeld = false;
  for (size_t f = 0; f < frames; ++f) {
    float* here = &score[(f & wrap) * periods];
    float* hereHeld = &heldScore[(f & wrap) * periods];
    centre[f & wrap] = stepsOf(pulse.at(origin + double(f) * FRAME));
    float salience = 0;
    addSpread(salience, long(f), onsetFrame, spreadFrom,
              [&](size_t i) { return onsets[i].salience; });
    uint32_t& playedHere = played[f & wrap];
    playedHere = f == 0 ? 0 : played[(f - 1) & wrap];
    for (; playedTo < onsets.size() && onsetFrame[playedTo] <= long(f); ++playedTo)
      playedHere += onsetFrame[playedTo] >= 0;
    uint8_t* way = ways.add(centre[f & wrap]);
    for (int j = 0; j < periods; ++j) {
      const int steps = centre[f & wrap] + j - BAND;
      const size_t lag = size_t(lagOf(steps));
      // The first beat comes within a period of the first onset, on either side.
      float best = (f + lag >= first && f <= first + lag) ? 0.0f : NONE;
      int8_t step = START;
      if (f >= lag) {
        const float* before = &score[((f - lag) & wrap) * periods];
        const float* beforeHeld = &heldScore[((f - lag) & wrap) * periods];
        // The beat before had period index base - d, for the changes d that stay in the band.
        const int base = steps - centre[(f - lag) & wrap] + BAND;
        const int low = std::max(-REACH, base - periods + 1), high = std::min(REACH, base);
        // The first best of a row over those changes, if better than `value`.
        auto bestOf = [&](const float* row, float& value, int8_t& at) {
          for (int d = low; d <= high; ++d) {
            const float v = row[base - d] - change[d + REACH];
            at = v > value ? int8_t(d) : at;
            value = std::max(v, value);
          }
        };
        // After a beat of one period, then after a held one: the first best in the order of d,
        // a held one after the other at the same d, as one loop over both would find it.
        bestOf(before, best, step);
        if (!steady) { // no beat is held, so none ends a held one
          float afterHeld = NONE;
          int8_t heldStep = START;
          bestOf(beforeHeld, afterHeld, heldStep);
          if (heldStep != START &&
              (afterHeld > best || (afterHeld == best && step != START && heldStep < step))) {
            best = afterHeld;
            step = int8_t(heldStep + AFTER_HELD);
          }
        }
      }
      here[j] = best + salience - prior[j];
      float bestHeld = NONE;
      int8_t stretch = START;
      for (size_t r = 0; r < (steady ? 0 : std::size(HELD)); ++r) {
        const size_t at = size_t(steps - lattice.lowest);
        const size_t gap = heldGap[at * std::size(HELD) + r];
        if (f < gap + 3) continue;
        const size_t g = f - gap;
        // Nothing played over the held beat's last QUIET periods (its own onset's 3 frames
        // excepted) up to this beat's onset, whose salience spreads 3 frames before it.
        const size_t quiet = std::max(g + 3, f - quietLag[at]);
        if (quiet < f - 4 && played[(f - 4) & wrap] != played[quiet & wrap]) continue;
        const int k = steps - centre[g & wrap] + BAND;
        if (k < 0 || k >= periods) continue;
        const float v = score[(g & wrap) * periods + size_t(k)] - float(HELD_COST);
        if (v > bestHeld) {
          bestHeld = v;
          stretch = int8_t(r);
        }
      }
      hereHeld[j] = bestHeld + salience - prior[j];
      way[j] = pack(step, stretch);
      // The last beat comes within a period of the last onset, on either side.
      if (f + lag >= last && here[j] > bestEnd) {
        bestEnd = here[j];
        endFrame = f;
        endState = j;
        endHeld = false;
      }
      if (f + lag >= last && hereHeld[j] > bestEnd) {
        bestEnd = hereHeld[j];
        endFrame = f;
        endState = j;
        endHeld = true;
      }
    }
    // No beat ends the path yet, and the ring still holds every state a later beat may follow.
    if (f % SETTLE_EVERY == SETTLE_EVERY - 1 && f + size_t(longest) < last)
      ways.settle(held, live, back);
  }
  std::vector<double> beats;
  for (size_t f : ways.path({endFrame, endState + (endHeld ? periods : 0)}, back))
    beats.push_back(origin + double(f) * FRAME);
  snap(onsets, beats, steady ? STEADY_SNAP : SNAP);
  dropSqueezed(onsets, beats);
  return beats;
}

double medianPeriod(const std::vector<double>& beats) {
  std::vector<double> periods;
  for (size_t k = 0; k + 1 < beats.size(); ++k)
    periods.push_back(beats[k + 1] - beats[k]);
  return median(periods);
}

std::vector<double> halves(const std::vector<double>& beats) {
  std::vector<double> out;
  for (size_t k = 0; k + 1 < beats.size(); ++k)
    out.insert(out.end(), {beats[k], (beats[k] + beats[k + 1]) / 2});
  if (!beats.empty()) out.push_back(beats.back());
  return out;
}

double unevenness(const std::vector<double>& beats, size_t span) {
  std::vector<double> change;
  for (size_t k = span; k + span < beats.size(); ++k)
    change.push_back(
        std::abs(std::log((beats[k + span] - beats[k]) / (beats[k] - beats[k - span]))));
  return median(change);
}

namespace {

// How near a point of a beat `period` seconds long a note counts as on it, in seconds.
double nearBeat(double period) { return std::min(0.07, 0.15 * period); }

// Each onset inside the beats with its beat k, where in the beat it falls (0 to 1), and how near
// a point of the beat counts as on it, in the same share: `visit(k, phase, near, onset)`.
template <class Visit>
void phasesInBeats(const std::vector<Onset>& onsets, const std::vector<double>& beats,
                   Visit visit) {
  size_t k = 0;
  for (const Onset& o : onsets) {
    while (k + 1 < beats.size() && beats[k + 1] <= o.time)
      ++k;
    if (k + 1 >= beats.size() || o.time < beats[k]) continue;
    const double period = beats[k + 1] - beats[k];
    visit(k, (o.time - beats[k]) / period, nearBeat(period) / period, o);
  }
}

// The keys of the notes that start within `near` seconds of `t`, added to `keys`.
void addKeysNear(const std::vector<PlayedNote>& sorted, double t, double near,
                 std::bitset<128>& keys) {
  const auto from = std::partition_point(sorted.begin(), sorted.end(),
                                         [&](const PlayedNote& n) { return n.start < t - near; });
  for (auto it = from; it != sorted.end() && it->start <= t + near; ++it)
    keys.set(it->pitch & 0x7F);
}

} // namespace

std::vector<double> surfaceLevel(const std::vector<Onset>& onsets, const std::vector<double>& beats,
                                 const std::vector<PlayedNote>& sorted) {
  // How many beats and how many halfway points have an onset, and the onset weight that falls
  // anywhere else in the beat.
  std::vector<char> onBeat(beats.size(), 0), halfway(beats.size(), 0);
  double placed = 0, other = 0;
  phasesInBeats(onsets, beats, [&](size_t k, double phase, double near, const Onset& o) {
    if (phase <= near)
      onBeat[k] = 1, placed += o.weight;
    else if (phase >= 1 - near)
      onBeat[k + 1] = 1, placed += o.weight;
    else if (std::abs(phase - 0.5) <= near)
      halfway[k] = 1, placed += o.weight;
    else
      other += o.weight;
  });
  const double beatsPlayed = double(std::count(onBeat.begin(), onBeat.end(), 1));
  const double halvesPlayed = double(std::count(halfway.begin(), halfway.end(), 1));
  const double mean = (beats.back() - beats.front()) / double(beats.size() - 1);
  if (mean / 2 < FASTEST_SURFACE || halvesPlayed < 0.75 * beatsPlayed || other > 0.1 * placed)
    return beats;
  // Halves that only strike again keys struck on the beats beside them are a stream running
  // under the beats (a hi-hat in eighths over kick and snare, repeated chords over a bass), which
  // a listener hears as the beats' division, not as the beat: a rock groove at 90 is not at 180.
  double streamed = 0;
  for (size_t i = 0; i + 1 < beats.size(); ++i) {
    if (!halfway[i]) continue;
    const double near = nearBeat(beats[i + 1] - beats[i]);
    std::bitset<128> half, beside;
    addKeysNear(sorted, (beats[i] + beats[i + 1]) / 2, near, half);
    addKeysNear(sorted, beats[i], near, beside);
    addKeysNear(sorted, beats[i + 1], near, beside);
    streamed += half.any() && (half & ~beside).none();
  }
  if (streamed >= STREAM_SHARE * halvesPlayed) return beats;
  std::vector<double> split;
  for (size_t i = 0; i + 1 < beats.size(); ++i)
    split.insert(split.end(), {beats[i], (beats[i] + beats[i + 1]) / 2});
  split.push_back(beats.back());
  return split;
}

std::vector<double> streamLevel(const std::vector<Onset>& onsets, const std::vector<double>& beats,
                                const std::vector<PlayedNote>& sorted) {
  if (beats.size() < 8) return beats;
  const double mean = (beats.back() - beats.front()) / double(beats.size() - 1);
  if (2 * mean > MERGE_SLOWEST) return beats;
  // Only where the beats are the fastest notes played: an accompaniment figure between them
  // (an Alberti bass repeating its first note on every beat) makes them the beat it divides.
  double placed = 0, other = 0;
  phasesInBeats(onsets, beats, [&](size_t, double phase, double near, const Onset& o) {
    (phase <= near || phase >= 1 - near ? placed : other) += o.weight;
  });
  if (other > 0.1 * placed) return beats;
  std::vector<std::bitset<128>> keys(beats.size());
  for (size_t k = 0; k < beats.size(); ++k) {
    const double period = k + 1 < beats.size() ? beats[k + 1] - beats[k] : beats[k] - beats[k - 1];
    addKeysNear(sorted, beats[k], nearBeat(period), keys[k]);
  }
  // Per parity: beats that only strike again keys of the beats beside them (the hi-hat between
  // kick and snare), and beats that strike keys the beats beside them do not (kick, snare).
  double only[2] = {0, 0}, own[2] = {0, 0}, count[2] = {0, 0};
  for (size_t k = 1; k + 1 < beats.size(); ++k) {
    const std::bitset<128> beside = keys[k - 1] | keys[k + 1];
    count[k % 2] += 1;
    if (keys[k].any() && (keys[k] & ~beside).none()) only[k % 2] += 1;
    if ((keys[k] & ~beside).any()) own[k % 2] += 1;
  }
  // Per parity: beats that strike one key alone, the same every time, which no beat beside them
  // strikes (an open hi-hat on the offbeats), and beats whose lowest key lies below it (a kick on
  // every beat): a listener counts the kick, the hat its offbeat.
  double single[2] = {0, 0}, under[2] = {0, 0};
  int key[2] = {-1, -1};
  for (size_t k = 1; k + 1 < beats.size(); ++k)
    if (keys[k].count() == 1 && key[k % 2] < 0)
      for (int i = 0; i < 128; ++i)
        if (keys[k][size_t(i)]) key[k % 2] = i;
  for (size_t k = 1; k + 1 < beats.size(); ++k) {
    const std::bitset<128> beside = keys[k - 1] | keys[k + 1];
    const int other = key[1 - k % 2];
    single[k % 2] += key[k % 2] >= 0 && keys[k].count() == 1 && keys[k][size_t(key[k % 2])] &&
                     (keys[k] & beside).none();
    for (int i = 0; i < 128 && other >= 0; ++i)
      if (keys[k][size_t(i)]) {
        under[k % 2] += i < other;
        break;
      }
  }
  for (size_t weak = 0; weak < 2; ++weak) {
    const size_t strong = 1 - weak;
    if ((only[weak] >= STREAM_SHARE * count[weak] && own[strong] >= STREAM_SHARE * count[strong]) ||
        (single[weak] >= STREAM_SHARE * count[weak] &&
         under[strong] >= STREAM_SHARE * count[strong])) {
      std::vector<double> merged;
      for (size_t k = strong; k < beats.size(); k += 2)
        merged.push_back(beats[k]);
      return merged;
    }
  }
  return beats;
}

namespace {

// A clock through the beats: beat m at origin + period * m.
struct Clock {
  double origin, period;
  double count(double t) const { return std::round((t - origin) / period); }
  double at(double m) const { return origin + period * m; }
};

// The clock fitted to the beats from beat `start` outwards, the span doubling, so that each beat
// is counted by a clock already near enough to count it right; beats off by more than a quarter
// beat (on an off-beat, a beat added) are left out. False where too few beats are left, or the
// period fitted strays by more than a tenth from `period` (the beats' median interval): no
// player's clock, and its beats over the take would be counted in wild numbers.
bool fitClock(const std::vector<double>& beats, size_t start, double period, Clock& clock) {
  const size_t n = beats.size();
  clock = {beats[start], period};
  for (size_t half = 8;; half *= 2) {
    const size_t from = start - std::min(half, start), to = std::min(n - 1, start + half);
    for (int pass = 0; pass < 3; ++pass) {
      double m = 0, t = 0, mm = 0, mt = 0, used = 0;
      for (size_t k = from; k <= to; ++k) {
        const double at = clock.count(beats[k]);
        if (std::abs(beats[k] - clock.at(at)) > 0.25 * clock.period) continue;
        m += at, t += beats[k], mm += at * at, mt += at * beats[k], used += 1;
      }
      const double determinant = used * mm - m * m;
      if (used < 4 || determinant <= 0) return false;
      clock.period = (used * mt - m * t) / determinant;
      clock.origin = (t - clock.period * m) / used;
      if (!(std::abs(std::log(clock.period / period)) <= 0.1)) return false;
    }
    if (from == 0 && to == n - 1) return true;
  }
}

} // namespace

std::vector<double> keptClock(const std::vector<double>& beats) {
  const size_t n = beats.size();
  if (n < 16) return {};
  std::vector<double> gaps;
  for (size_t k = 1; k < n; ++k)
    gaps.push_back(beats[k] - beats[k - 1]);
  const double period = median(gaps);
  // Fitted from each eighth of the take, the fit most beats lie on kept: a fit begun where the
  // tracker followed the off-beats follows them.
  Clock clock{0, 0};
  std::vector<bool> on;
  size_t onClock = 0;
  std::vector<double> off;
  for (size_t start = n / 16; start < n; start += n / 8) {
    Clock fitted;
    if (!fitClock(beats, start, period, fitted)) continue;
    // The beats on it, each beat of it counted once.
    const double near = std::min(0.1 * fitted.period, 0.07);
    std::vector<bool> here(n, false);
    std::vector<double> offHere;
    double last = -1e300;
    for (size_t k = 0; k < n; ++k) {
      const double at = fitted.count(beats[k]), by = std::abs(beats[k] - fitted.at(at));
      if (by <= near && at != last) here[k] = true, offHere.push_back(by), last = at;
    }
    if (offHere.size() > onClock)
      clock = fitted, on = here, onClock = offHere.size(), off = offHere;
  }
  if (onClock < CLOCK_SHARE * double(n)) return {};
  if (median(off) > CLOCK_SCATTER) return {};
  // The clock from the first run of CLOCK_RUN beats on it to the last: a take that opens freely
  // or ends in a ritardando keeps the beats found there ...
  size_t first = n, end = 0;
  for (size_t k = 0, run = 0; k < n; ++k) {
    run = on[k] ? run + 1 : 0;
    if (run == CLOCK_RUN) first = std::min(first, k + 1 - CLOCK_RUN);
    if (run >= CLOCK_RUN) end = k + 1;
  }
  if (first >= end) return {};
  // ... unless the beats there keep the clock's pace and only left its phase (onto the
  // off-beats for a while): their intervals' mean or median within CLOCK_PACE (a log ratio) of
  // the clock's period, the median where the tracker lost or added a beat on the way. A
  // ritardando or an accelerando moves both away from it.
  auto keepsPace = [&](size_t from, size_t to) {
    if (to - from < 2) return true;
    std::vector<double> gap;
    for (size_t k = from + 1; k < to; ++k)
      gap.push_back(beats[k] - beats[k - 1]);
    const double mean = (beats[to - 1] - beats[from]) / double(gap.size());
    return std::abs(std::log(mean / clock.period)) <= CLOCK_PACE ||
           std::abs(std::log(median(gap) / clock.period)) <= CLOCK_PACE;
  };
  if (keepsPace(0, first + 1)) first = 0;
  if (keepsPace(end - 1, n)) end = n;
  std::vector<double> kept;
  for (double m = clock.count(beats[first]); m <= clock.count(beats[end - 1]); ++m)
    kept.push_back(clock.at(m));
  return kept.size() >= 2 ? kept : std::vector<double>{};
}

std::vector<double> fixedBeats(const std::vector<Onset>& onsets, double period) {
  // The phase, in frames of the period, where the onsets' weight near a beat is largest.
  const int steps = std::max(1, int(std::lround(period / FRAME)));
  std::vector<double> fit(size_t(steps), 0.0);
  for (const Onset& o : onsets) {
    const double phase = std::fmod(o.time, period) / period * steps;
    for (int d = -3; d <= 3; ++d) {
      const int at = ((int(std::lround(phase)) + d) % steps + steps) % steps;
      fit[size_t(at)] += o.weight * (1 - std::abs(d) / 4.0);
    }
  }
  const size_t best = size_t(std::max_element(fit.begin(), fit.end()) - fit.begin());
  const double phase = double(best) / steps * period;
  std::vector<double> beats;
  const double start = std::floor((onsets.front().time - phase) / period) * period + phase;
  for (double k = 0; start + k * period <= onsets.back().time + period / 2; ++k)
    beats.push_back(start + k * period);
  return beats;
}

namespace {

// The share of the onsets from beat `phase` on lying on a grid of `parts` equal steps over each
// two beats, within a fifth of a step (at most 35 ms).
double onParts(const std::vector<Onset>& onsets, const std::vector<double>& beats, size_t parts,
               size_t phase) {
  double on = 0, all = 0;
  size_t o = 0;
  for (size_t k = phase; k + 2 < beats.size(); k += 2) {
    const double step = (beats[k + 2] - beats[k]) / double(parts);
    while (o < onsets.size() && onsets[o].time < beats[k])
      ++o;
    for (; o < onsets.size() && onsets[o].time < beats[k + 2]; ++o) {
      const double x = (onsets[o].time - beats[k]) / step;
      all += 1;
      on += std::abs(x - std::round(x)) * step <= std::min(0.035, 0.2 * step);
    }
  }
  return all > 0 ? on / all : 0;
}

} // namespace

std::vector<double> halfBarLevel(const std::vector<Onset>& onsets,
                                 const std::vector<double>& beats) {
  if (beats.size() < 16 || unevenness(beats) > PARTS_EVEN) return beats;
  double plain = 0;
  for (size_t parts : {8, 12, 16})
    plain = std::max({plain, onParts(onsets, beats, parts, 0), onParts(onsets, beats, parts, 1)});
  if (plain >= PLAIN_SHARE) return beats;
  for (size_t eighths : {5, 7}) {
    if (std::max(onParts(onsets, beats, 2 * eighths, 0), onParts(onsets, beats, 2 * eighths, 1)) <
        ODD_SHARE)
      continue;
    // The bar starts where the eighths hold more of the onsets than the sixteenths between. Each
    // two beats from there are divided evenly, and the eighths go on at the same pace before.
    const size_t phase =
        onParts(onsets, beats, eighths, 0) >= onParts(onsets, beats, eighths, 1) ? 0 : 1;
    std::vector<double> split;
    for (size_t k = phase; k + 2 < beats.size(); k += 2)
      for (size_t part = 0; part < eighths; ++part)
        split.push_back(beats[k] + (beats[k + 2] - beats[k]) * double(part) / double(eighths));
    split.push_back(beats[phase + 2 * ((beats.size() - 1 - phase) / 2)]);
    const double first = split[1] - split[0];
    while (split.front() - first >= beats.front() - 1e-9)
      split.insert(split.begin(), split.front() - first);
    return split;
  }
  return beats;
}

} // namespace quorb::grid
