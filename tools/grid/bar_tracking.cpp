// Bar tracking by dynamic programming over (time frame, bar period), after the bar pointer of
// Whiteley, Cemgil and Godsill and the joint beat and downbeat trackers of Krebs, Boeck and
// Widmer: a step is a whole bar, scored by what marks its first beat (the meter's accents) and
// by the salience at its inner beats, evenly spaced, and paying for a change of its period, so
// that a bar broadened as a whole stretches rather than the count slipping a beat. Its bar lines
// then go onto the tracked beats.
//
// References:
//   N. Whiteley, A. T. Cemgil, S. Godsill, Bayesian modelling of temporal structure in musical
//     audio, ISMIR 2006.
//   F. Krebs, S. Boeck, G. Widmer, Rhythmic pattern modeling for beat and downbeat tracking in
//     musical audio, ISMIR 2013; An efficient state-space model for joint tempo and meter
//     tracking, ISMIR 2015.

#include "grid_parts.h"
#include "paths.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace quorb::grid {

namespace {

constexpr int BAND = 12; // periods each side of the bar's local one: up to x1.27
constexpr int REACH = 3; // period steps a bar may change from the one before
// Weights of the score of a bar sequence, in units of the mean onset salience:
constexpr double CHANGE = 60;    // per bar, times (log of the period ratio to the last bar)^2
constexpr double DRIFT = 2;      // per bar, times (log of the period ratio to the local one)^2
constexpr double BAR_COST = 0.1; // per bar, so that bars where nothing is played cost
// A first beat earns its accent's excess over the beats within eight of it, in the spread of
// all accents, times this: about two onsets' salience for a first beat standing out by the
// spread, so that the bars' phase outweighs a single loud off-beat but not the beats themselves.
constexpr double DOWNBEAT = 2;
// The beat tracker's beats count as much as this many onsets: the bars follow them unless whole
// bars fit the playing better, so that the path does not slide onto the off-beats of a passage
// in running notes.
constexpr double TRACKED = 2;
// The bars are tracked only where the beats flow evenly: where the median change from one beat
// interval to the next stays within this log ratio (5 %). There the bars keep their length and
// whole bars fit the playing; where the player shapes each beat (rubato, fermatas, ritardandos
// of a few beats) the beat tracker's path, turning beat by beat, and the meter's count, which
// may slip a beat, follow the playing better.
constexpr double EVEN = 0.05;
// A bar of a beat more or less, the beat period kept, costs this much (about five bars of clear
// first beats), and only where the meter's count, which weighs every way the count may have run,
// found a bar of another length: a player who adds or drops a beat does so once, and a count
// that follows single contrary accents elsewhere would break the bars' regular flow.
constexpr double SLIP = 10;

// The beats' local period at each beat: the median of the intervals within eight beats.
std::vector<double> localPeriods(const std::vector<double>& beats) {
  const size_t n = beats.size();
  std::vector<double> local(n), window;
  for (size_t k = 0; k < n; ++k) {
    window.clear();
    for (size_t j = k > 8 ? k - 8 : 0; j < std::min(n - 1, k + 8); ++j)
      window.push_back(beats[j + 1] - beats[j]);
    local[k] = median(window);
  }
  return local;
}

} // namespace

std::vector<size_t> trackBars(const std::vector<PlayedNote>& sorted,
                              const std::vector<Onset>& onsets, const std::vector<double>& beats,
                              const std::vector<size_t>& counted, int perBar) {
  std::vector<size_t> bars;
  if (perBar < 2 || beats.size() < 2 * size_t(perBar) || onsets.empty() || unevenness(beats) > EVEN)
    return bars;
  const std::vector<double> local = localPeriods(beats);
  // A state's period is counted in steps from the local bar period at its frame (`centre`, in
  // steps of PERIOD_STEP from FASTEST), so the band follows the tempo through the take.
  constexpr int periods = 2 * BAND + 1;
  const double logStep = std::log(PERIOD_STEP);
  const auto [fast, slow] = std::minmax_element(local.begin(), local.end());
  const FrameLattice lattice(onsets, *fast * perBar, *slow * perBar, BAND + REACH);
  auto stepsOf = [&](double period) { return lattice.stepsOf(period); };
  auto lagOf = [&](int steps) { return lattice.lagOf(steps); };
  const int longest = lattice.longest;
  const double origin = lattice.origin;
  const size_t first = lattice.first, last = lattice.last, frames = lattice.frames;

  // What marks a first beat, from the meter's accents at the tracked beats: each against the
  // beats within eight of it (a loud or busy passage raises every beat alike).
  std::vector<double> downbeat;
  {
    const std::vector<double> accent = beatAccents(sorted, onsets, beats);
    const size_t n = accent.size();
    double mean = 0, spread = 0;
    for (double a : accent)
      mean += a;
    mean /= double(n);
    for (double a : accent)
      spread += (a - mean) * (a - mean);
    spread = std::max(std::sqrt(spread / double(n)), 1e-9);
    const std::vector<double> excess = accentExcess(accent);
    for (size_t k = 0; k < n; ++k)
      downbeat.push_back(DOWNBEAT * excess[k] / spread);
  }
  // Where the meter's count found a bar of another length: within half a beat of its end, as
  // spans of frames in the order they begin.
  std::vector<std::pair<long, long>> slips;
  for (size_t i = 1; i < counted.size(); ++i) {
    if (counted[i] - counted[i - 1] == size_t(perBar) || counted[i] >= beats.size()) continue;
    const double t = beats[counted[i]], half = local[counted[i]] / 2;
    slips.push_back({frameOf(t - half, origin), frameOf(t + half, origin)});
  }
  std::sort(slips.begin(), slips.end());
  float prior[periods];
  for (int j = 0; j < periods; ++j)
    prior[j] = float(DRIFT * std::pow((j - BAND) * logStep, 2) + BAR_COST);
  float change[2 * REACH + 1];
  for (int e = -REACH; e <= REACH; ++e)
    change[e + REACH] = float(CHANGE * std::pow(e * logStep, 2));

  // Per period (indexed from the lattice's lowest), the frames from a bar line to each beat
  // after it up to the perBar-th, which a bar of a beat more holds too; and the spans of bars
  // of a beat less and a beat more: worked out once, not at every frame.
  const size_t beatsAfter = size_t(perBar);
  std::vector<size_t> beatAt, oddSpan;
  for (int lag : lattice.lags) {
    for (int i = 1; i <= perBar; ++i)
      beatAt.push_back(size_t(std::lround(double(i * long(lag)) / perBar)));
    for (int odd = -1; odd <= 1; odd += 2)
      oddSpan.push_back(size_t(std::lround(double(lag) * (perBar + odd) / perBar)));
  }
  // score (bars ending at a frame) is kept for the last longest bar only; per state, the steps
  // the period changed from the bar before, START for the first bar line.
  constexpr int8_t START = std::numeric_limits<int8_t>::min();
  constexpr int8_t ODD = 32; // a bar of perBar + (way - ODD) beats
  const size_t reach = size_t(longest) * size_t(perBar + 1) / size_t(perBar) + 2;
  const size_t ring = ringRows(reach), wrap = ring - 1;
  std::vector<float> score(ring * size_t(periods), 0.0f);
  // Per frame of the ring: its band's centre and the salience of the onsets and tracked beats.
  std::vector<int> centre(ring);
  std::vector<float> s(ring);
  std::vector<long> onsetFrame, beatFrame;
  for (const Onset& o : onsets)
    onsetFrame.push_back(frameOf(o.time, origin));
  for (double t : beats)
    beatFrame.push_back(frameOf(t, origin));
  size_t onsetFrom = 0, beatFrom = 0, downbeatFrom = 0, nextSlip = 0, beat = 0;
  long slipUntil = -1;
  PathMemory ways(periods, periods);
  auto back = [&](PathNode at) -> PathNode {
    const int steps = ways.centre(at.frame) + at.state - BAND;
    const int8_t step = int8_t(ways.row(at.frame)[at.state]);
    if (step == START) return {};
    if (step > REACH) {
      const size_t g =
          at.frame - size_t(std::lround(double(lagOf(steps)) * (perBar + step - ODD) / perBar));
      return {g, steps - ways.centre(g) + BAND};
    }
    const size_t g = at.frame - size_t(lagOf(steps));
    return {g, steps - step - ways.centre(g) + BAND};
  };
  constexpr float NONE = -std::numeric_limits<float>::infinity();
  auto live = [&](size_t g, int state) {
    return score[(g & wrap) * size_t(periods) + size_t(state)] > NONE;
  };
  float bestEnd = NONE;
  size_t endFrame = 0;
  int endState = BAND;
  for (size_t f = 0; f < frames; ++f) {
    float* here = &score[(f & wrap) * size_t(periods)];
    const double t = origin + double(f) * FRAME;
    while (beat + 1 < beats.size() && beats[beat + 1] <= t)
      ++beat;
    centre[f & wrap] = stepsOf(local[beat] * perBar);
    float& salience = s[f & wrap];
    salience = 0;
    addSpread(salience, long(f), onsetFrame, onsetFrom,
              [&](size_t i) { return onsets[i].salience; });
    addSpread(salience, long(f), beatFrame, beatFrom, [](size_t) { return TRACKED; });
    float downbeatHere = 0;
    addSpread(downbeatHere, long(f), beatFrame, downbeatFrom,
              [&](size_t k) { return downbeat[k]; });
    for (; nextSlip < slips.size() && slips[nextSlip].first <= long(f); ++nextSlip)
      slipUntil = std::max(slipUntil, slips[nextSlip].second);
    const bool slip = slipUntil >= long(f);
    uint8_t* way = ways.add(centre[f & wrap]);
    for (int j = 0; j < periods; ++j) {
      const int steps = centre[f & wrap] + j - BAND;
      const size_t lag = size_t(lagOf(steps));
      // The first bar line comes within a bar of the first onset, on either side.
      float best = (f + lag >= first && f <= first + lag) ? 0.0f : NONE;
      int8_t step = START;
      if (f >= lag) {
        const size_t g = f - lag;
        float inner = 0;
        const size_t* offsets = &beatAt[size_t(steps - lattice.lowest) * beatsAfter];
        for (size_t i = 0; i + 1 < beatsAfter; ++i)
          inner += s[(g + offsets[i]) & wrap];
        const float* before = &score[(g & wrap) * size_t(periods)];
        // The bar before had period index base - e, for the changes e that stay in the band;
        // the first best in the order of e.
        const int base = steps - centre[g & wrap] + BAND;
        const int low = std::max(-REACH, base - periods + 1), high = std::min(REACH, base);
        for (int e = low; e <= high; ++e) {
          const float v = before[base - e] - change[e + REACH] + inner;
          step = v > best ? int8_t(e) : step;
          best = std::max(v, best);
        }
      }
      // A bar of a beat more or less, at the same beat period: the player added or dropped one.
      for (int odd = -1; odd <= 1 && slip; odd += 2) {
        const int count = perBar + odd;
        const size_t at = size_t(steps - lattice.lowest);
        const size_t span = oddSpan[at * 2 + size_t(odd > 0)];
        if (count < 1 || f < span) continue;
        const size_t g = f - span;
        const int k = steps - centre[g & wrap] + BAND;
        if (k < 0 || k >= periods) continue;
        float inner = 0;
        for (int i = 1; i < count; ++i)
          inner += s[(g + beatAt[at * beatsAfter + size_t(i - 1)]) & wrap];
        const float v = score[(g & wrap) * size_t(periods) + size_t(k)] - float(SLIP) + inner;
        if (v > best) {
          best = v;
          step = int8_t(ODD + odd);
        }
      }
      here[j] = best + salience + downbeatHere - prior[j];
      way[j] = uint8_t(step);
      // The last bar line comes within a bar of the last onset, on either side.
      if (f + lag >= last && here[j] > bestEnd) {
        bestEnd = here[j];
        endFrame = f;
        endState = j;
      }
    }
    // No bar line ends the path yet, and the ring still holds every state a later bar may follow.
    if (f % SETTLE_EVERY == SETTLE_EVERY - 1 && f + size_t(longest) < last)
      ways.settle(reach, live, back);
  }
  const std::vector<size_t> lines = ways.path({endFrame, endState}, back);
  // Each bar line onto the tracked beat nearest it, within half a beat: the beats stay the
  // tracker's, which follow the playing beat by beat.
  size_t k = 0;
  for (size_t frame : lines) {
    const double t = origin + double(frame) * FRAME;
    while (k + 1 < beats.size() && std::abs(beats[k + 1] - t) <= std::abs(beats[k] - t))
      ++k;
    if (std::abs(beats[k] - t) <= local[k] / 2 && (bars.empty() || bars.back() < k))
      bars.push_back(k);
  }
  // The whole bars are to mend the count where it slipped a beat, not to overturn its phase:
  // sharing fewer than a third of its bar lines, they put the bars elsewhere through most of the
  // take on the first beats' accents alone, and the count, which weighed bass, harmony and long
  // notes over the whole take as well, stays.
  size_t shared = 0;
  for (size_t c : counted)
    shared += size_t(std::binary_search(bars.begin(), bars.end(), c));
  if (3 * shared < counted.size()) bars.clear();
  return bars;
}

} // namespace quorb::grid
