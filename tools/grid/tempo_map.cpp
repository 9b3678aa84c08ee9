// A grid written as Set Tempo and Time Signature events. Positions are kept in exact integers:
// a reader places tick T of a segment starting at tick S with tempo U (us per quarter) at
// W + (T - S) * U / ppq microseconds, so the map stores W times ppq, and every tempo is chosen
// from the written time of its segment's start, not from the previous wish: rounding never
// accumulates from beat to beat.

#include "grid.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace quorb {

namespace {

constexpr int64_t MAX_TEMPO = 0xFFFFFF;

} // namespace

TempoMap::TempoMap(const Grid& grid, uint16_t ppq) : ppq_(ppq) {
  if (ppq == 0 || ppq > 32767) throw std::invalid_argument("ppq must be 1 to 32767");
  if (grid.beats.size() < 2 || !(grid.beats[1] > 0) || grid.beats[0] > 0)
    throw std::invalid_argument("a grid's beats must start at or before second 0");
  const double quarters = quartersPerBeat(grid.numerator, grid.denominator);
  const int sixteenthsPerBeat = int(std::lround(4 * quarters));
  // The take opens inside beat 0: the part of it after second 0, in whole sixteenths, at least
  // one, so that beat 1 lands on a sixteenth of the written grid.
  const double part = grid.beats[1] / (grid.beats[1] - grid.beats[0]);
  const int lead = std::clamp(int(std::lround(part * sixteenthsPerBeat)), 1, sixteenthsPerBeat);
  const uint64_t leadTicks = uint64_t(std::max<long>(1, std::lround(lead * ppq / 4.0)));
  auto tickOf = [&](size_t beat) { // beat >= 1
    return leadTicks + uint64_t(std::llround(double(beat - 1) * quarters * ppq));
  };

  int64_t written = 0; // the current point's time in us, times ppq
  uint64_t tick = 0;
  for (size_t k = 1; k < grid.beats.size(); ++k) {
    const uint64_t next = tickOf(k);
    const long double target = (long double)grid.beats[k] * 1e6L * ppq;
    const int64_t tempo = std::clamp<int64_t>(
        std::llround((target - written) / (long double)(next - tick)), 1, MAX_TEMPO);
    if (tempos_.empty() || tempos_.back().microsPerQuarter != uint32_t(tempo)) {
      tempos_.push_back({tick, uint32_t(tempo)});
      startMicrosTimesPpq_.push_back(written);
    }
    written += int64_t(next - tick) * tempo;
    tick = next;
  }

  const int bar = beatsPerBar(grid.numerator, grid.denominator);
  // A bar of `sixteenths`, in the largest unit that counts it whole, but no larger than the
  // meter's own.
  auto meterOf = [&](uint64_t at, int sixteenths) {
    int denominator = 16;
    while (sixteenths % 2 == 0 && denominator > grid.denominator)
      sixteenths /= 2, denominator /= 2;
    return MeterChange{at, sixteenths, denominator};
  };
  const uint64_t downbeat = grid.firstDownbeat == 0 ? 0 : tickOf(grid.firstDownbeat);
  const int pickup =
      grid.firstDownbeat == 0 ? 0 : lead + int(grid.firstDownbeat - 1) * sixteenthsPerBeat;
  if (pickup > 0 && pickup < bar * sixteenthsPerBeat) {
    // The short bar before the first downbeat.
    meters_.push_back(meterOf(0, pickup));
    meters_.push_back({downbeat, grid.numerator, grid.denominator});
  } else {
    meters_.push_back({0, grid.numerator, grid.denominator});
  }
  // A bar that gained or lost a beat is written with its own signature, and the meter resumes
  // at the next bar line; bars of one length in a row (a piece in another meter) share one.
  for (size_t i = 0; i + 1 < grid.downbeats.size(); ++i) {
    const size_t beats = grid.downbeats[i + 1] - grid.downbeats[i];
    if (beats == size_t(bar)) continue;
    const uint64_t at = grid.downbeats[i] == 0 ? 0 : tickOf(grid.downbeats[i]);
    const MeterChange own = meterOf(at, int(beats) * sixteenthsPerBeat);
    if (meters_.back().tick == own.tick) meters_.pop_back();
    if (meters_.empty() || meters_.back().numerator != own.numerator ||
        meters_.back().denominator != own.denominator)
      meters_.push_back(own);
    meters_.push_back({tickOf(grid.downbeats[i + 1]), grid.numerator, grid.denominator});
  }
}

uint64_t TempoMap::tickAt(double seconds) const {
  if (!(seconds > 0)) return 0;
  const long double at = (long double)seconds * 1e6L * ppq_;
  size_t i = size_t(std::upper_bound(startMicrosTimesPpq_.begin(), startMicrosTimesPpq_.end(),
                                     int64_t(std::min<long double>(at, 9e18L))) -
                    startMicrosTimesPpq_.begin());
  i = i == 0 ? 0 : i - 1;
  const long double into = (at - startMicrosTimesPpq_[i]) / tempos_[i].microsPerQuarter;
  return tempos_[i].tick + uint64_t(std::llround(std::max(0.0L, into)));
}

double TempoMap::secondsAt(uint64_t tick) const {
  const auto after = std::upper_bound(tempos_.begin(), tempos_.end(), tick,
                                      [](uint64_t t, const TempoChange& c) { return t < c.tick; });
  const size_t i = after == tempos_.begin() ? 0 : size_t(after - tempos_.begin()) - 1;
  const long double at =
      startMicrosTimesPpq_[i] + (long double)(tick - tempos_[i].tick) * tempos_[i].microsPerQuarter;
  return double(at / ppq_ / 1e6L);
}

} // namespace quorb
