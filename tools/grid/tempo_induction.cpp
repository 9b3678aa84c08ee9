// Tempo induction (Dixon 2001): intervals between onsets pile up at the beat, its subdivisions
// and the bar. A performance changes tempo, so the intervals are gathered window by window, and
// one smooth path of periods through the windows is chosen (Viterbi) so that the metrical level
// stays the same while the tempo drifts.

#include "grid_parts.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quorb::grid {

namespace {

constexpr double BIN = 0.010;     // seconds per interval bin
constexpr double LONGEST = 5.0;   // longest interval gathered
constexpr double HOP = 3.0;       // seconds between window centres
constexpr int BLOCKS = 8;         // hops in a window: 24 s, four bars even of a slow 4/4
constexpr double PREFERRED = 0.5; // the beat listeners tap most readily (120 BPM) ...
constexpr double SPREAD = 1.0;    // ... and the spread of that preference, in octaves
constexpr double JUMP = 20;       // cost of a period change between windows, per (log ratio)^2
constexpr int FARTHEST = 40;      // period steps considered between windows (x2.2)
// The intervals an onset forms: with every later onset within PRESENT seconds, beyond that only
// with its next NEAREST onsets, and never more than MOST (bounding the cost of a dense take).
constexpr double PRESENT = 2.0;
constexpr size_t NEAREST = 16;
constexpr size_t MOST = 40;

using Histogram = std::vector<float>;

// Sum of the histogram around `lag` seconds, with a tolerance growing with the lag, so that a
// multiple of a period that drifts a little is still found.
double around(const Histogram& h, double lag) {
  const double width = std::max(0.015, 0.03 * lag);
  const int lo = std::max(0, int(std::lround((lag - width) / BIN)));
  const int hi = std::min(int(h.size()) - 1, int(std::lround((lag + width) / BIN)));
  double sum = 0;
  for (int b = lo; b <= hi; ++b)
    sum += h[size_t(b)] * (1 - std::abs(b * BIN - lag) / (width + BIN));
  return sum;
}

} // namespace

double Pulse::at(double seconds) const {
  const double x = std::clamp((seconds - start) / hop, 0.0, double(periods.size() - 1));
  const size_t i = std::min(size_t(x), periods.size() - 1);
  if (i + 1 >= periods.size()) return periods[i];
  return periods[i] * std::pow(periods[i + 1] / periods[i], x - double(i));
}

Pulse inducePulse(const std::vector<Onset>& onsets, double clock) {
  const double origin = onsets.front().time;
  const size_t blocks = size_t((onsets.back().time - origin) / HOP) + 1;
  const size_t bins = size_t(LONGEST / BIN) + 1;
  // A listener relates an onset to everything that follows within about two seconds (the
  // perceptual present), further only to the next few events, not to each note of a run. Were
  // every pair over bars of sixteenths counted, the slow levels, whose multiples reach furthest,
  // would gather the most: a fast 4/4 in sixteenths would be counted in half notes, a fast 6/8
  // in whole bars. A sparse texture keeps its long intervals (the bar).
  // Pairs of onsets up to LONGEST apart, by the hop block of the first: weighted by the product
  // of the onsets' weights to the power 1.5, so that the intervals between accents stand out
  // from those between passing notes (its square lets the bar outweigh the beat of a fast
  // waltz; the plain product lets the eighths outweigh the dotted quarter of a slow 6/8), and
  // counted plainly for the strength of the pulse.
  // Only a window's blocks are kept, gathered as the windows reach them, so that the memory
  // does not grow with the take's length.
  const size_t kept = std::min(blocks, size_t(BLOCKS));
  std::vector<Histogram> block(kept, Histogram(bins)), counts(kept, Histogram(bins));
  std::vector<double> strong(onsets.size()); // each weight to the power 1.5, once
  for (size_t i = 0; i < onsets.size(); ++i)
    strong[i] = std::pow(onsets[i].weight, 1.5);
  size_t paired = 0, gathered = 0; // onsets and blocks done
  auto gatherUpTo = [&](size_t end) {
    for (; gathered < end; ++gathered) {
      Histogram &h = block[gathered % kept], &c = counts[gathered % kept];
      std::fill(h.begin(), h.end(), 0.0f);
      std::fill(c.begin(), c.end(), 0.0f);
      for (size_t i = paired;
           i < onsets.size() && size_t((onsets[i].time - origin) / HOP) == gathered; paired = ++i)
        for (size_t j = i + 1; j < onsets.size() && j <= i + MOST; ++j) {
          const double lag = onsets[j].time - onsets[i].time;
          if (lag > LONGEST || (lag > PRESENT && j > i + NEAREST)) break;
          h[size_t(std::lround(lag / BIN))] += float(strong[i] * strong[j]);
          c[size_t(std::lround(lag / BIN))] += 1.0f;
        }
    }
  };
  std::vector<double> period;
  if (clock > 0)
    period = {std::clamp(clock, BIN, LONGEST)}; // within the intervals gathered
  else
    for (double p = FASTEST; p <= SLOWEST; p *= PERIOD_STEP)
      period.push_back(p);
  const size_t n = period.size();
  std::vector<double> prior(n);
  for (size_t i = 0; i < n; ++i)
    prior[i] = -0.5 * std::pow(std::log2(period[i] / PREFERRED) / SPREAD, 2);

  // What `around` gathers from a histogram of ones: random times spread pairs evenly over the
  // lags, so they give it `flat` times their density.
  const Histogram ones(bins, 1.0f);
  std::vector<double> flat(n);
  for (size_t i = 0; i < n; ++i)
    flat[i] = around(ones, period[i]);

  // The level of the beat shows in what recurs over several bars. In windows of a few bars a
  // change of figuration (a run, held chords) can favour another period for a while, and the
  // path then slides through in-between periods to another level; the path still moves every
  // hop, so the tempo follows the playing however long the window.
  const size_t windows = blocks > size_t(BLOCKS) ? blocks - BLOCKS + 1 : 1;
  // score: the evidence for each period in the window. The path of periods with the best
  // evidence, paying for each change between windows, is extended window by window: `from`, the
  // step to each period from the window before. `plain` and `expected`: the plain pair counts at
  // the periods of the best path into each period so far, and what random times would give
  // there, carried along the paths so that only one window's are held.
  std::vector<double> score(n), own(n), sums(bins + 1), total(n), next(n);
  std::vector<double> found(n), chance(n), plain(n, 0.0), expected(n, 0.0), nextPlain(n),
      nextExpected(n);
  std::vector<int8_t> from(windows * n, 0);
  Histogram h(bins), c(bins);
  for (size_t w = 0; w < windows; ++w) {
    std::fill(h.begin(), h.end(), 0.0f);
    std::fill(c.begin(), c.end(), 0.0f);
    gatherUpTo(std::min(blocks, w + BLOCKS));
    for (size_t b = w; b < std::min(blocks, w + BLOCKS); ++b)
      for (size_t k = 0; k < bins; ++k) {
        h[k] += block[b % kept][k];
        c[k] += counts[b % kept][k];
      }
    // A beat is supported by its own interval and its multiples (the bar). Not by its halves:
    // they would favour every level above a busy one.
    double best = 0;
    for (size_t b = 0; b < bins; ++b)
      sums[b + 1] = sums[b] + c[b];
    for (size_t i = 0; i < n; ++i) {
      const double p = period[i];
      own[i] = around(h, p);
      score[i] =
          own[i] + 0.5 * around(h, 2 * p) + 0.25 * around(h, 3 * p) + 0.25 * around(h, 4 * p);
      best = std::max(best, score[i]);
    }
    for (size_t i = 0; i < n; ++i) {
      const double relative = best > 0 ? score[i] / best : 1;
      score[i] = std::log(relative + 1e-3) + prior[i];
    }
    for (size_t i = 0; i < n; ++i) {
      // Chance: the mean of the histogram over lags around the period, where weights of pairs
      // of random times would be as large on average.
      const size_t lo = size_t(period[i] / std::sqrt(2.0) / BIN);
      const size_t hi = std::min(bins, size_t(period[i] * std::sqrt(2.0) / BIN));
      found[i] = around(c, period[i]);
      chance[i] = (sums[hi] - sums[lo]) / double(hi - lo) * flat[i];
    }
    if (w == 0) {
      total = score;
      plain = found;
      expected = chance;
      continue;
    }
    for (size_t i = 0; i < n; ++i) {
      double most = -1e300;
      const size_t lo = i >= size_t(FARTHEST) ? i - FARTHEST : 0;
      for (size_t k = lo; k < std::min(n, i + FARTHEST + 1); ++k) {
        const double jump = std::log(PERIOD_STEP) * (double(i) - double(k));
        const double v = total[k] - JUMP * jump * jump;
        if (v > most) most = v, from[w * n + i] = int8_t(long(k) - long(i));
      }
      next[i] = most + score[i];
      const size_t k = size_t(long(i) + from[w * n + i]);
      nextPlain[i] = plain[k] + found[i];
      nextExpected[i] = expected[k] + chance[i];
    }
    total.swap(next);
    plain.swap(nextPlain);
    expected.swap(nextExpected);
  }
  size_t i = size_t(std::max_element(total.begin(), total.end()) - total.begin());
  Pulse pulse;
  pulse.start = origin + HOP * BLOCKS / 2;
  pulse.hop = HOP;
  pulse.periods.resize(windows);
  pulse.strength = expected[i] > 0 ? plain[i] / expected[i] : 0;
  for (size_t w = windows; w-- > 0;) {
    pulse.periods[w] = period[i];
    i = size_t(long(i) + from[w * n + i]);
  }
  return pulse;
}

} // namespace quorb::grid
