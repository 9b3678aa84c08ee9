// Takes a machine played: a sequencer's or an arpeggiator's notes fall on a grid of equal steps,
// to the sample. Such a stream has no rhythm of its own to tell a beat of three steps from one of
// four, and the tempo prior then picks the three at 80-110 BPM in sixteenths (a dotted eighth
// near half a second). What tells them apart is how the pattern repeats: a figure of four notes
// or a bar of sixteen steps recurs at four steps and its multiples, at three, six or twelve only
// as far as a figure of one, two or four steps does. A player's even stream, one chord's
// arpeggio played by hand, is as featureless; its steps are counted on the beats found.

#include "grid_parts.h"

#include <algorithm>
#include <bitset>
#include <cmath>

namespace quorb::grid {

namespace {

// Onsets within this of the step grid are on it: a machine's notes come stamped on its steps,
// give or take a millisecond on their way, while a player's timing strays by 10-30 ms.
constexpr double STEP_SLACK = 0.004;
// ... and this share of them must be, each step found in the same stream of steps.
constexpr double ON_GRID = 0.95;
// A step is at least this long: a run or a roll faster than this is no sequencer's step.
constexpr double SHORTEST_STEP = 0.05;
// Beats that stray from a whole number of steps by more than this share of a step are off the grid.
constexpr double WHOLE_STEPS = 0.15;
// A player's even stream: onsets within this share of a step of the steps dividing the beats
// found (a hand strays by 10-30 ms, a fifth of a sixteenth at 100 BPM is 30 ms), in this share
// of the beats struck at every step; and by a player, a figure must recur at four steps in at
// least this share of them, as a few keys a melody happens to repeat do not.
constexpr double STREAM_SLACK = 0.2;
constexpr double FULL_BEATS = 0.9;
constexpr double PLAYED_FIGURE = 0.5;

// The grid of steps the onsets fall on: its step and origin, or false where the onsets keep no
// such grid (a player's timing). Every take with a pulse comes through here, so it gives up as
// soon as too many onsets are off the grid and holds no more than the first 2048 gaps.
bool stepGrid(const std::vector<Onset>& onsets, double& step, double& origin) {
  const size_t n = onsets.size();
  // The shortest gap that a tenth of the first gaps share within 3 %: the step, roughly.
  std::vector<double> gaps;
  for (size_t i = 0; i + 1 < std::min<size_t>(n, 2049); ++i)
    gaps.push_back(onsets[i + 1].time - onsets[i].time);
  std::sort(gaps.begin(), gaps.end());
  step = 0;
  for (size_t i = 0; i < gaps.size() && step == 0; ++i) {
    if (gaps[i] < SHORTEST_STEP) continue;
    const auto from = std::lower_bound(gaps.begin(), gaps.end(), gaps[i] * 0.97);
    const auto to = std::upper_bound(gaps.begin(), gaps.end(), gaps[i] * 1.03);
    if (double(to - from) >= 0.1 * double(gaps.size())) step = gaps[size_t(from - gaps.begin())];
  }
  if (step == 0) return false;
  // Each onset's step counted on from the one before, the step refined as the count grows so
  // that a long rest still lands on its step; then the line through all of them.
  const size_t allowed = size_t((1 - ON_GRID) * double(n));
  size_t off = 0;
  long k = 0;
  double sk = 0, st = 0, skk = 0, skt = 0;
  origin = onsets[0].time;
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) {
      const double gap = onsets[i].time - onsets[i - 1].time;
      const long m = std::max(1L, std::lround(gap / step));
      if (std::abs(gap - double(m) * step) > 2 * STEP_SLACK && ++off > allowed) return false;
      k += m;
      if (k >= 8) step = (onsets[i].time - origin) / double(k);
    }
    const double t = onsets[i].time;
    sk += double(k), st += t, skk += double(k) * double(k), skt += double(k) * t;
  }
  const double det = double(n) * skk - sk * sk;
  if (!(det > 0)) return false;
  step = (double(n) * skt - sk * st) / det;
  origin = (st - step * sk) / double(n);
  if (!(step >= SHORTEST_STEP)) return false;
  size_t on = 0;
  for (const Onset& o : onsets) {
    const double at = (o.time - origin) / step;
    on += std::abs(o.time - (origin + std::round(at) * step)) <= STEP_SLACK;
  }
  return double(on) >= ON_GRID * double(n);
}

// The steps of a player's even stream, counted on the beats found: where nearly every beat is
// struck at each of `per` equal steps and nowhere else (an arpeggio played by hand, three notes
// to a dotted beat found), each onset's step from the first beat. False where the beats do not
// divide so, or divide in a power of two.
bool beatSteps(const std::vector<Onset>& onsets, const std::vector<double>& beats, long& per,
               std::vector<long>& index) {
  const size_t n = onsets.size();
  std::vector<double> counts;
  for (size_t k = 0, i = 0; k + 1 < beats.size(); ++k) {
    size_t c = 0;
    for (; i < n && onsets[i].time < beats[k + 1] - 0.1 * (beats[k + 1] - beats[k]); ++i)
      c += onsets[i].time >= beats[k] - 0.1 * (beats[k + 1] - beats[k]);
    counts.push_back(double(c));
  }
  per = std::lround(median(counts));
  if (per < 3 || (per & (per - 1)) == 0) return false;
  index.assign(n, 0);
  size_t k = 0, on = 0, full = 0;
  for (size_t i = 0; i < n; ++i) {
    const double t = onsets[i].time;
    while (k + 2 < beats.size() &&
           t >= beats[k + 1] - 0.5 * (beats[k + 1] - beats[k]) / double(per))
      ++k;
    const double at = (t - beats[k]) / (beats[k + 1] - beats[k]) * double(per);
    index[i] = long(k) * per + std::lround(at);
    on += std::abs(at - std::round(at)) <= STREAM_SLACK;
    if (i > 0 && index[i] <= index[i - 1]) return false;
  }
  for (double c : counts)
    full += c == double(per);
  return double(on) >= ON_GRID * double(n) && double(full) >= FULL_BEATS * double(counts.size());
}

} // namespace

std::vector<double> stepLevel(const std::vector<Onset>& onsets, const std::vector<double>& beats,
                              const std::vector<PlayedNote>& sorted) {
  if (onsets.size() < 16 || beats.size() < 4) return beats;
  const size_t n = onsets.size();
  std::vector<long> index(n);
  double step = 0, origin = 0, steps = 0;
  long per = 0;
  if (stepGrid(onsets, step, origin)) {
    steps = medianPeriod(beats) / step;
    const long whole = std::lround(steps);
    const bool binary = whole > 0 && (whole & (whole - 1)) == 0;
    if (binary && std::abs(steps - double(whole)) <= WHOLE_STEPS) return beats;
    for (size_t i = 0; i < n; ++i)
      index[i] = std::lround((onsets[i].time - origin) / step);
  } else if (beatSteps(onsets, beats, per, index)) {
    steps = double(per);
  } else {
    return beats;
  }
  // The time of step m: on the machine's grid, or between the beats found.
  auto timeOf = [&](long m) {
    if (per == 0) return origin + double(m) * step;
    const long last = long(beats.size()) - 2;
    const long k = std::clamp(m >= 0 ? m / per : -((-m + per - 1) / per), 0L, last);
    return beats[size_t(k)] +
           double(m - k * per) / double(per) * (beats[size_t(k) + 1] - beats[size_t(k)]);
  };

  // Each onset's keys, and how often the pattern recurs at a lag: of the steps where something
  // is struck then or a lag later, the share where the same keys are.
  std::vector<std::bitset<128>> keys(n);
  for (size_t i = 0, s = 0; i < n; ++i) {
    const double until = i + 1 < n ? onsets[i + 1].time : onsets[i].time + 1;
    for (; s < sorted.size() && sorted[s].start < until; ++s)
      if (sorted[s].start >= onsets[i].time) keys[i].set(sorted[s].pitch & 0x7F);
  }
  auto recurs = [&](long lag) {
    double same = 0, struck = 0;
    size_t j = 0;
    for (size_t i = 0; i < n; ++i) { // each struck step k, against k + lag
      if (index[i] + lag > index.back()) break;
      while (j < n && index[j] < index[i] + lag)
        ++j;
      struck += 1;
      same += j < n && index[j] == index[i] + lag && keys[j] == keys[i];
    }
    size_t h = 0;
    for (size_t i = 0; i < n; ++i) { // each struck step k + lag with nothing at k
      if (index[i] - lag < index.front()) continue;
      while (h < n && index[h] < index[i] - lag)
        ++h;
      struck += !(h < n && index[h] == index[i] - lag);
    }
    return struck > 0 ? same / struck : 0.0;
  };
  // A figure recurs at every multiple of its own length, so a lag tells only as much as it
  // recurs beyond the figure that divides it: a single key struck again and again recurs at
  // every lag, a figure of two at six, and one of four (a held chord's arpeggio) at twelve.
  const double once = recurs(1);
  const double twos = std::max({recurs(4), recurs(8), recurs(16)}) - once;
  const double threes = std::max({recurs(3) - once, recurs(6) - recurs(2), recurs(12) - recurs(4)});
  if (threes >= twos || (per > 0 && twos < PLAYED_FIGURE)) return beats;

  // Beats of the power of two steps nearest the tracked beat, where the onsets weigh most.
  long every = 1;
  while (every < 8 &&
         std::abs(std::log(double(every * 2) / steps)) < std::abs(std::log(double(every) / steps)))
    every *= 2;
  std::vector<double> weight(size_t(every), 0.0);
  for (size_t i = 0; i < n; ++i)
    weight[size_t(((index[i] % every) + every) % every)] += onsets[i].weight;
  const long phase = long(std::max_element(weight.begin(), weight.end()) - weight.begin());
  std::vector<double> even;
  long first = index.front() - ((index.front() - phase) % every + every) % every;
  for (long k = first; k <= index.back() + every; k += every)
    even.push_back(timeOf(k));
  return even;
}

} // namespace quorb::grid
