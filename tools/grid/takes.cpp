#include "takes.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace quorb::takes {

std::vector<TakeKind> kinds() {
  using T = Texture;
  return {
      {"march 4/4 100", T::March, 4, 4, 100, 100, 1, 24},
      {"march 4/4 60", T::March, 4, 4, 60, 60, 0, 16},
      {"march 4/4 180", T::March, 4, 4, 180, 180, 2, 32},
      {"polka 2/4 120", T::Polka, 2, 4, 120, 120, 1, 32},
      {"waltz 3/4 150", T::Waltz, 3, 4, 150, 150, 1, 32},
      {"waltz 3/4 90", T::Waltz, 3, 4, 90, 90, 0, 24},
      {"barcarolle 6/8 60", T::Barcarolle, 6, 8, 60, 60, 1, 20},
      {"barcarolle 6/8 100", T::Barcarolle, 6, 8, 100, 100, 0, 28},
      {"alberti 4/4 80", T::Alberti, 4, 4, 80, 80, 0, 20},
      {"chorale 3/4 72", T::Chorale, 3, 4, 72, 72, 2, 20},
      {"chorale 3/4 176", T::Chorale, 3, 4, 176, 176, 1, 32},
      {"toccata 4/4 130", T::Toccata, 4, 4, 130, 130, 0, 20},
      {"toccata 4/4 176", T::Toccata, 4, 4, 176, 176, 1, 32},
      {"tapped 3/4 120", T::Tapped, 3, 4, 120, 120, 1, 24},
      {"drums 2/4 90", T::Drums, 2, 4, 90, 90, 0, 32},
      {"drum machine 2/4 70", T::Machine, 2, 4, 70, 70, 0, 32},
      {"arpeggiator 4/4 96", T::Arpeggio, 4, 4, 96, 96, 0, 16, 0},
      {"held arpeggio 4/4 90", T::Held, 4, 4, 90, 90, 0, 16, 0},
      {"vamp 5/4 132", T::Vamp, 5, 4, 132, 132, 0, 24},
      {"vamp 7/4 100", T::Vamp, 7, 4, 100, 100, 1, 20},
      {"riff 7/8 270", T::Vamp, 7, 8, 270, 270, 0, 32},
      {"barcarolle 6/8 150", T::Barcarolle, 6, 8, 150, 150, 2, 32},
      {"accelerando march 4/4 80-140", T::March, 4, 4, 80, 140, 1, 24},
      {"ritardando waltz 3/4 160-100", T::Waltz, 3, 4, 160, 100, 2, 32},
      {"ritardando barcarolle 6/8 80-55", T::Barcarolle, 6, 8, 80, 55, 0, 20},
      {"accelerando alberti 4/4 70-110", T::Alberti, 4, 4, 70, 110, 0, 20},
  };
}

namespace {

// Drum keys as a General MIDI kit has them; the Tapped texture plays the snare alone.
constexpr int KICK = 36, PAD = 38, HIHAT = 42, CRASH = 49;

// A bar's harmony: root pitch class and the chord's three pitch classes, in C major.
struct Chord {
  int root;
  int tones[3];
};
constexpr Chord PROGRESSION[] = {{0, {0, 4, 7}}, {5, {5, 9, 0}}, {7, {7, 11, 2}}, {0, {0, 4, 7}},
                                 {9, {9, 0, 4}}, {2, {2, 5, 9}}, {7, {7, 11, 2}}, {0, {0, 4, 7}}};

// The lowest pitch of pitch class `pc` at or above `from`.
int above(int pc, int from) { return from + ((pc - from) % 12 + 12) % 12; }

class Player {
public:
  Player(const TakeKind& kind, uint32_t seed) : kind_(kind), random_(seed) {
    const int bar = beatsPerBar(kind.numerator, kind.denominator);
    const int count = kind.pickup + kind.bars * bar + bar + 1; // a last bar held to its end
    double t = 1.0;                                            // a second of silence first
    for (int k = 0; k < count; ++k) {
      times_.push_back(t);
      const double along = double(k) / std::max(1, count - 2);
      t += 60 / (kind.bpmFrom + (kind.bpmTo - kind.bpmFrom) * std::min(1.0, along));
    }
  }

  // The time of `position` counted beats after the first bar line.
  double at(double position) const {
    const double k = position + kind_.pickup;
    const size_t i = std::min(size_t(std::floor(k)), times_.size() - 2);
    return times_[i] + (k - double(i)) * (times_[i + 1] - times_[i]);
  }

  // A note `length` beats long. Notes played one after another at the same position move
  // together, as a hand does; `roll` spreads a chord upwards.
  void play(double position, double length, int pitch, int velocity, double roll = 0) {
    if (position != lastPosition_) {
      lastPosition_ = position;
      handMove_ = kind_.looseness * uniform(-0.010, 0.010);
    }
    const double start = at(position) + roll + handMove_ + kind_.looseness * uniform(-0.005, 0.005);
    const double end = at(position + length) - 0.02;
    const int v = std::clamp(velocity + int(std::lround(uniform(-5, 5))), 1, 127);
    take.notes.push_back(
        {start, std::max(end, start + 0.05), uint8_t(std::clamp(pitch, 0, 127)), uint8_t(v)});
  }

  int pick(int from, int to) { return std::uniform_int_distribution<int>(from, to)(random_); }
  double uniform(double from, double to) {
    return std::uniform_real_distribution<double>(from, to)(random_);
  }

  Take take;

private:
  const TakeKind& kind_;
  std::mt19937 random_;
  std::vector<double> times_;
  double lastPosition_ = -1e9;
  double handMove_ = 0;
};

// A melody note of the chord near the last one.
int melodyNote(Player& p, const Chord& c, int& last) {
  const int pc = c.tones[p.pick(0, 2)];
  int note = above(pc, last - 5);
  if (note < 64) note += 12;
  if (note > 81) note -= 12;
  last = note;
  return note;
}

void playBar(Player& p, const TakeKind& kind, int bar, int& melody) {
  const Chord& c = PROGRESSION[bar % 8];
  const double b = bar * beatsPerBar(kind.numerator, kind.denominator);
  const int root = above(c.root, 36), fifth = above(c.tones[2], root + 1);
  auto chord = [&](double at, double length, int velocity, double roll = 0) {
    for (int i = 0; i < 3; ++i)
      p.play(at, length, above(c.tones[i], 53), velocity, roll * i);
  };
  switch (kind.texture) {
  case Texture::March:
    p.play(b, 1, root, 78);
    p.play(b + 2, 1, fifth, 68);
    chord(b + 1, 0.5, 52);
    chord(b + 3, 0.5, 52);
    p.play(b, 2, melodyNote(p, c, melody), 76);
    p.play(b + 2, 1, melodyNote(p, c, melody), 64);
    p.play(b + 3, 0.5, melodyNote(p, c, melody), 60);
    p.play(b + 3.5, 0.5, melodyNote(p, c, melody), 58);
    break;
  case Texture::Polka:
    p.play(b, 0.5, root, 80);
    p.play(b + 1, 0.5, fifth, 66);
    chord(b + 0.5, 0.4, 50);
    chord(b + 1.5, 0.4, 50);
    p.play(b, 1, melodyNote(p, c, melody), 74);
    p.play(b + 1, 0.5, melodyNote(p, c, melody), 62);
    p.play(b + 1.5, 0.5, melodyNote(p, c, melody), 60);
    break;
  case Texture::Waltz:
    p.play(b, 1, root, 80);
    chord(b + 1, 0.8, 52);
    chord(b + 2, 0.8, 50);
    if (bar % 2 == 1) {
      p.play(b, 3, melodyNote(p, c, melody), 75);
    } else {
      for (int i = 0; i < 3; ++i)
        p.play(b + i, 1, melodyNote(p, c, melody), i == 0 ? 75 : 62);
    }
    break;
  case Texture::Barcarolle: {
    const int rolling[6] = {root,       fifth,    root + 12, above(c.tones[1], root + 12),
                            fifth + 12, root + 12};
    for (int i = 0; i < 6; ++i)
      p.play(b + i / 3.0, i == 0 ? 2.0 : 1 / 3.0, i == 3 ? fifth : rolling[i],
             i == 0   ? 72
             : i == 3 ? 62
                      : 48);
    p.play(b, 1, melodyNote(p, c, melody), 74);
    p.play(b + 1, 2 / 3.0, melodyNote(p, c, melody), 64);
    p.play(b + 5 / 3.0, 1 / 3.0, melodyNote(p, c, melody), 60);
    break;
  }
  case Texture::Alberti: {
    const int third = above(c.tones[1], root + 12 + 1);
    const int pattern[4] = {root + 12, fifth + 12, third, fifth + 12};
    for (int i = 0; i < 16; ++i)
      p.play(b + i / 4.0, 0.25, pattern[i % 4], i == 0 ? 60 : 54);
    p.play(b, 2, melodyNote(p, c, melody), 76);
    p.play(b + 2, 1, melodyNote(p, c, melody), 66);
    p.play(b + 3, 0.5, melodyNote(p, c, melody), 62);
    p.play(b + 3.5, 0.5, melodyNote(p, c, melody), 60);
    break;
  }
  case Texture::Chorale: {
    const int beats = beatsPerBar(kind.numerator, kind.denominator);
    for (int i = 0; i < beats; ++i) {
      const int bass = i == 0 ? root : above(c.tones[i % 3], root + 1) - 12;
      p.play(b + i, i == 0 ? beats : 1, bass, i == 0 ? 78 : 60, 0);
      chord(b + i, 1, i == 0 ? 70 : 56, 0.025);
      p.play(b + i, 1, melodyNote(p, c, melody), i == 0 ? 74 : 62, 0.075);
    }
    break;
  }
  case Texture::Toccata:
    for (int i = 0; i < 16; ++i) {
      const int accent = i == 0 ? 20 : i % 4 == 0 ? 8 : 0;
      p.play(b + i / 4.0, 0.25, i % 2 == 0 ? root : root + 12, 58 + accent);
      if (i % 2 == 0) p.play(b + i / 4.0, 0.25, fifth, 50 + accent);
      for (int v = 0; v < 3; ++v)
        p.play(b + i / 4.0, 0.25, above(c.tones[(v + i) % 3], 60 + 4 * v), 54 + accent);
      if (i % 4 == 0) p.play(b + i / 4.0, 1, melodyNote(p, c, melody) + 12, 70 + accent);
    }
    break;
  case Texture::Tapped: {
    const int beats = beatsPerBar(kind.numerator, kind.denominator);
    for (int i = 0; i < beats; ++i)
      p.play(b + i, 0.25, PAD, i == 0 ? 100 : 64);
    if (bar % 2 == 1) p.play(b + beats - 0.5, 0.25, PAD, 56);
    break;
  }
  case Texture::Arpeggio:
  case Texture::Held: {
    const Chord& h = kind.texture == Texture::Held ? PROGRESSION[0] : c;
    const int low = above(h.root, 36);
    const int tones[4] = {low + 12, above(h.tones[1], low + 13), above(h.tones[2], low + 13),
                          low + 24};
    for (int i = 0; i < 16; ++i)
      p.play(b + i / 4.0, 0.2, tones[i % 4], 100);
    break;
  }
  case Texture::Vamp: {
    const int beats = beatsPerBar(kind.numerator, kind.denominator);
    for (int i = 0, group = 0; i < beats; ++i) {
      const bool starts = i == 0 || (i >= 3 && (i - 3) % 2 == 0);
      if (starts) {
        p.play(b + i, i == 0 ? 3 : 2, group++ % 2 == 0 ? root : fifth, i == 0 ? 80 : 70);
        p.play(b + i, 1, melodyNote(p, c, melody), i == 0 ? 76 : 64);
      } else {
        chord(b + i, 0.8, 54);
        p.play(b + i + 0.5, 0.5, melodyNote(p, c, melody), 58);
      }
    }
    break;
  }
  case Texture::Drums:
  case Texture::Machine: {
    const bool alike = kind.texture == Texture::Machine;
    for (int i = 0; i < 4; ++i)
      p.play(b + i / 2.0, 0.25, HIHAT, alike ? 100 : i % 2 == 0 ? 80 : 60);
    p.play(b, 0.5, KICK, 100);
    p.play(b + 1, 0.5, PAD, alike ? 100 : 96);
    break;
  }
  }
}

} // namespace

Take makeTake(const TakeKind& kind, uint32_t seed) {
  Player p(kind, seed);
  const int bar = beatsPerBar(kind.numerator, kind.denominator);
  int melody = 72;
  const bool tapped = kind.texture == Texture::Tapped;
  for (int i = -kind.pickup; i < 0; ++i)
    p.play(i, 1, tapped ? PAD : melodyNote(p, PROGRESSION[7], melody), 64);
  for (int k = 0; k < kind.bars; ++k)
    playBar(p, kind, k, melody);
  const double end = kind.bars * bar;
  const bool drums = kind.texture == Texture::Drums || kind.texture == Texture::Machine;
  p.play(end, bar, tapped ? PAD : drums ? KICK : above(0, 36), 80);
  if (drums)
    p.play(end, bar, CRASH, 90);
  else if (!tapped)
    for (int pc : {0, 4, 7, 0})
      p.play(end, bar, above(pc, 55), 70);
  for (int k = -kind.pickup; k <= kind.bars * bar; ++k) {
    p.take.beats.push_back(p.at(k));
    if (k >= 0 && k % bar == 0) p.take.downbeats.push_back(p.at(k));
  }
  return std::move(p.take);
}

std::vector<PlayedNote> randomNotes(size_t count, double seconds, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> time(0, seconds), length(0.05, 1.0);
  std::uniform_int_distribution<int> pitch(36, 90), velocity(30, 110);
  std::vector<PlayedNote> notes;
  for (size_t i = 0; i < count; ++i) {
    const double start = time(random);
    notes.push_back(
        {start, start + length(random), uint8_t(pitch(random)), uint8_t(velocity(random))});
  }
  return notes;
}

double fMeasure(const std::vector<double>& found, const std::vector<double>& truth,
                double tolerance) {
  if (truth.empty()) return found.empty() ? 1 : 0;
  const double from = truth.front() - tolerance, to = truth.back() + tolerance;
  std::vector<bool> matched(truth.size(), false);
  size_t hits = 0, counted = 0, j = 0;
  for (double t : found) {
    if (t < from || t > to) continue;
    ++counted;
    while (j < truth.size() && truth[j] < t - tolerance)
      ++j;
    // The nearest unmatched truth time within the tolerance.
    size_t best = truth.size();
    for (size_t i = j; i < truth.size() && truth[i] <= t + tolerance; ++i)
      if (!matched[i] &&
          (best == truth.size() || std::abs(truth[i] - t) < std::abs(truth[best] - t)))
        best = i;
    if (best < truth.size()) matched[best] = true, ++hits;
  }
  if (hits == 0) return 0;
  const double precision = double(hits) / double(counted), recall = double(hits) / truth.size();
  return 2 * precision * recall / (precision + recall);
}

std::vector<double> barLines(const Grid& grid) {
  std::vector<double> bars;
  if (!grid.downbeats.empty()) {
    for (size_t k : grid.downbeats)
      bars.push_back(grid.beats[k]);
    return bars;
  }
  const size_t bar = size_t(beatsPerBar(grid.numerator, grid.denominator));
  for (size_t k = grid.firstDownbeat; k < grid.beats.size(); k += bar)
    bars.push_back(grid.beats[k]);
  return bars;
}

namespace {

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// The found beat interval around time t.
double localPeriod(const std::vector<double>& found, double t) {
  const auto after = std::upper_bound(found.begin(), found.end(), t);
  if (after == found.begin() || after == found.end()) return 0;
  return *after - *(after - 1);
}

} // namespace

double tempoError(const std::vector<double>& found, const std::vector<double>& truth) {
  std::vector<double> errors;
  for (size_t k = 0; k + 1 < truth.size(); ++k) {
    const double mid = (truth[k] + truth[k + 1]) / 2;
    errors.push_back(std::abs(localPeriod(found, mid) / (truth[k + 1] - truth[k]) - 1));
  }
  return median(errors);
}

double levelRatio(const std::vector<double>& found, const std::vector<double>& truth) {
  std::vector<double> f, t;
  for (size_t k = 0; k + 1 < found.size(); ++k)
    if (found[k] >= truth.front() && found[k + 1] <= truth.back())
      f.push_back(found[k + 1] - found[k]);
  for (size_t k = 0; k + 1 < truth.size(); ++k)
    t.push_back(truth[k + 1] - truth[k]);
  return t.empty() || f.empty() ? 0 : median(f) / median(t);
}

} // namespace quorb::takes
