// What the grid finder does beyond each kind of take (which grid_test.py checks through the
// built quorb): bars that change length, a known tempo and meter, no pulse, and the tempo map
// that carries a grid, at its edges.
#include "grid.h"
#include "paths.h"
#include "take_grid.h"
#include "takes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>

namespace quorb {
namespace {

const takes::TakeKind& kindNamed(const std::string& name) {
  static const std::vector<takes::TakeKind> all = takes::kinds();
  for (const takes::TakeKind& k : all)
    if (k.name == name) return k;
  throw std::invalid_argument("no take kind " + name);
}

// Each kind of take through the built quorb: tests/tools/grid_test.py.

// Two takes of one kind played one after the other with a bar of another length between them,
// as when a player adds or drops a beat: the bar lines must follow the second take too.
struct Joined {
  const char* kind;
  int joiningBeats; // the length of the bar between the takes, in counted beats, more than the
                    // second take's pickup
};

// Cases are named by what they hold (the default would print their bytes, pointers included).
void PrintTo(const Joined& c, std::ostream* out) { *out << c.kind << ", " << c.joiningBeats; }

class JoinedTakes : public ::testing::TestWithParam<Joined> {};

TEST_P(JoinedTakes, BarLinesFollowTheBarThatChangedLength) {
  const takes::TakeKind& kind = kindNamed(GetParam().kind);
  const takes::Take a = takes::makeTake(kind, 11), b = takes::makeTake(kind, 12);
  const double period = 60 / kind.bpmFrom;
  const double shift = a.beats.back() + GetParam().joiningBeats * period - b.downbeats.front();
  takes::Take both = a;
  for (int k = 1; k < GetParam().joiningBeats - kind.pickup; ++k)
    both.beats.push_back(a.beats.back() + k * period);
  for (PlayedNote n : b.notes) {
    n.start += shift;
    n.end += shift;
    both.notes.push_back(n);
  }
  for (double t : b.beats)
    both.beats.push_back(t + shift);
  for (double t : b.downbeats)
    both.downbeats.push_back(t + shift);
  const Grid grid = findGrid(both.notes);
  EXPECT_GE(takes::fMeasure(grid.beats, both.beats), 0.97);
  EXPECT_GE(takes::fMeasure(takes::barLines(grid), both.downbeats), 0.90);
  EXPECT_NO_THROW(TempoMap(grid, 960));
}

INSTANTIATE_TEST_SUITE_P(Kinds, JoinedTakes,
                         ::testing::Values(Joined{"waltz 3/4 90", 2}, Joined{"chorale 3/4 72", 4},
                                           Joined{"march 4/4 100", 3},
                                           Joined{"alberti 4/4 80", 5}));

// Two pieces in one take, another meter after a silence: each piece's bar lines are its own.
struct Pieces {
  const char* first;
  const char* second;
  double silence;     // seconds between the first piece's last note and the second's first
  const char* meters; // as the grid's line names them
};

void PrintTo(const Pieces& c, std::ostream* out) { *out << c.meters << ", " << c.silence << " s"; }

class PiecesInOneTake : public ::testing::TestWithParam<Pieces> {};

TEST_P(PiecesInOneTake, EachKeepsItsMeter) {
  const takes::Take a = takes::makeTake(kindNamed(GetParam().first), 3);
  const takes::Take b = takes::makeTake(kindNamed(GetParam().second), 4);
  double end = 0;
  for (const PlayedNote& n : a.notes)
    end = std::max(end, n.end);
  const double shift = end + GetParam().silence - b.notes.front().start;
  takes::Take both = a;
  for (PlayedNote n : b.notes) {
    n.start += shift;
    n.end += shift;
    both.notes.push_back(n);
  }
  const Grid grid = findGrid(both.notes);
  const std::vector<double> lines = takes::barLines(grid);
  const double middle = end + GetParam().silence / 2;
  auto part = [](const std::vector<double>& times, double from, double to) {
    std::vector<double> within;
    for (double t : times)
      if (t >= from && t < to) within.push_back(t);
    return within;
  };
  std::vector<double> second;
  for (double t : b.downbeats)
    second.push_back(t + shift);
  EXPECT_GE(takes::fMeasure(part(lines, 0, middle), a.downbeats), 0.90);
  EXPECT_GE(takes::fMeasure(part(lines, middle, 1e9), second), 0.90);
  // The silence is whole bars of one length, but for the last, which the second piece's first
  // bar line may cut short: nothing played there to move a bar line.
  const std::vector<double> silent =
      part(lines, a.downbeats.back() + 0.1, b.notes.front().start + shift - 0.1);
  for (size_t k = 2; k + 1 < silent.size(); ++k)
    ASSERT_NEAR(silent[k] - silent[k - 1], silent[1] - silent[0], 0.01) << "bar " << k;
  ASSERT_EQ(grid.pieces.size(), 2u);
  const std::string line = describe(summarize(grid, false, 1e9), false);
  EXPECT_NE(line.find(std::string(", ") + GetParam().meters + ", "), std::string::npos) << line;
  EXPECT_NE(line.find(" in 2 pieces"), std::string::npos) << line;
  EXPECT_NO_THROW(TempoMap(grid, 960));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PiecesInOneTake,
    ::testing::Values(Pieces{"march 4/4 100", "waltz 3/4 150", 11, "4/4 then 3/4"},
                      Pieces{"waltz 3/4 90", "march 4/4 100", 30, "3/4 then 4/4"},
                      Pieces{"polka 2/4 120", "chorale 3/4 72", 15, "2/4 then 3/4"},
                      // A phone call between the pieces: longer than their notes, spread out,
                      // would leave a pulse to follow.
                      Pieces{"march 4/4 100", "waltz 3/4 150", 1800, "4/4 then 3/4"}));

// Drums and machines are counted at the beat a drummer counts, at every tempo their range names: a
// hi-hat's eighths neither double the beat (the halves are a stream) nor become it (every other
// beat a stream), kick and snare are not one beat at half the tempo, and a sequencer's steps are
// counted in fours, not threes. A vamp in five and a riff in seven are counted in bars of five and
// seven, where recurrence at threes, twos and fours alone scattered their bar lines, and in their
// own beats, not in half as many (a riff in seven eighths at 135 a quarter too), nor in half bars
// (five eighths at 150 a quarter). One chord held on an arpeggiator, the machine's or played by
// hand, is counted in fours by its figure, and in bars of four from its first note.
struct Level {
  const char* kind;
  double from, to;       // BPM, every 15 between
  bool bars = false;     // the meter and the bar lines too
  double looseness = -1; // the player's, where not the kind's
};

void PrintTo(const Level& c, std::ostream* out) { *out << c.kind; }

class CountedLevel : public ::testing::TestWithParam<Level> {};

TEST_P(CountedLevel, IsTheWrittenBeat) {
  for (double bpm = GetParam().from; bpm <= GetParam().to; bpm += 15) {
    takes::TakeKind kind = kindNamed(GetParam().kind);
    kind.bpmFrom = kind.bpmTo = bpm;
    if (GetParam().looseness >= 0) kind.looseness = GetParam().looseness;
    for (uint32_t seed = 1; seed <= 2; ++seed) {
      const takes::Take take = takes::makeTake(kind, seed);
      const Grid grid = findGrid(take.notes);
      EXPECT_LE(takes::tempoError(grid.beats, take.beats), 0.02) << bpm << " BPM, seed " << seed;
      if (!GetParam().bars) continue;
      EXPECT_EQ(kind.numerator, grid.numerator) << bpm << " BPM, seed " << seed;
      EXPECT_EQ(bpm > 200 ? 8 : 4, grid.denominator) << bpm << " BPM, seed " << seed;
      EXPECT_GE(takes::fMeasure(takes::barLines(grid), take.downbeats), 0.9)
          << bpm << " BPM, seed " << seed;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, CountedLevel,
                         ::testing::Values(Level{"drums 2/4 90", 60, 180},
                                           Level{"drum machine 2/4 70", 75, 180},
                                           Level{"arpeggiator 4/4 96", 75, 165},
                                           Level{"held arpeggio 4/4 90", 75, 165, true},
                                           Level{"held arpeggio 4/4 90", 75, 150, true, 1},
                                           Level{"vamp 5/4 132", 60, 300, true},
                                           Level{"vamp 7/4 100", 60, 270, true}));

// A player at one tempo: eight bars of a march, `offBeatBars` of chords on the off-beats alone,
// eight of the march again, the last fifth slowing to `slowTo` of the tempo. The tracker follows
// the off-beat chords for a while; the clock the other beats keep holds the beat through them,
// and stops where a final ritardando leaves its pace.
struct Steady {
  const char* what;
  double bpm;
  int offBeatBars;
  double slowTo;
};

void PrintTo(const Steady& c, std::ostream* out) { *out << c.what; }

class ClockKept : public ::testing::TestWithParam<Steady> {};

TEST_P(ClockKept, HoldsTheBeat) {
  const Steady& c = GetParam();
  const double period = 60 / c.bpm;
  const int bars = 16 + c.offBeatBars;
  const double from = 1 + 0.8 * bars * 4 * period, span = 1 + bars * 4 * period - from;
  auto at = [&](double t) { // slowing linearly to slowTo over the last fifth
    const double x = std::clamp(t - from, 0.0, span), rate = (1 / c.slowTo - 1) / span;
    return t + rate * x * x / 2;
  };
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> hand(-0.015, 0.015);
    std::vector<PlayedNote> notes;
    std::vector<double> beats;
    auto play = [&](double t, double length, int pitch, int velocity) {
      const double start = at(t) + hand(random);
      notes.push_back({start, at(t + length), uint8_t(pitch), uint8_t(velocity)});
    };
    for (int k = 0; k <= bars * 4; ++k) {
      const double t = 1 + k * period;
      beats.push_back(at(t));
      if (k == bars * 4) {
        play(t, 1, 36, 80);
      } else if (k / 4 >= 8 && k / 4 < 8 + c.offBeatBars) {
        for (int pitch : {60, 64, 67, 72})
          play(t + period / 2, period / 2, pitch, 105);
      } else {
        play(t, 0.9 * period, k % 2 == 0 ? 36 : 43, k % 4 == 0 ? 90 : 70);
        for (int pitch : {60, 64, 67})
          play(t, 0.4 * period, pitch, 60);
        play(t + period / 2, 0.4 * period, 72, 55);
      }
    }
    EXPECT_GE(takes::fMeasure(findGrid(notes).beats, beats), 0.97) << "seed " << seed;
  }
}

INSTANTIATE_TEST_SUITE_P(Takes, ClockKept,
                         ::testing::Values(Steady{"off-beat chords at 110", 110, 4, 1},
                                           Steady{"off-beat chords at 130", 130, 4, 1},
                                           Steady{"a final ritardando", 120, 0, 0.7}));

// A bass line from a step sequencer, sixteen steps with rests, a bar each time round: counted in
// quarters at every tempo, where the prior alone heard the dotted rhythm's three steps.
TEST(StepSequence, IsCountedInQuarters) {
  const int pattern[16] = {36, 0, 36, 48, 0, 36, 0, 43, 36, 0, 48, 36, 0, 43, 46, 0};
  for (double bpm : {90.0, 100.0, 110.0, 128.0}) {
    const double step = 15 / bpm;
    std::vector<PlayedNote> notes;
    for (int k = 0; k < 16 * 16; ++k)
      if (pattern[k % 16] != 0)
        notes.push_back({1 + k * step, 1 + (k + 0.8) * step, uint8_t(pattern[k % 16]), 100});
    const Grid grid = findGrid(notes);
    ASSERT_GT(grid.beats.size(), 4u);
    EXPECT_NEAR(grid.beats[3] - grid.beats[2], 4 * step, 0.001) << bpm << " BPM";
    EXPECT_EQ(4, grid.numerator) << bpm << " BPM";
  }
}

// Four on the floor, the kick on every beat and the clap or snare on every other one over
// hi-hats in eighths, offbeats or sixteenths: the beat is the kick's, not the offbeat hat's, and
// the bar lines fall on the kick alone, never on the backbeat, where the most notes are. Whether
// its bars are of two or four beats, nothing in a loop of two beats tells. At 165 and 180 it is
// not counted at half the tempo from its snare. (Hats in sixteenths below 80 BPM are still
// counted in eighths.)
TEST(FourOnTheFloor, BeatsAndBarLinesAreOnTheKick) {
  for (const auto& [hats, from] : {std::pair{2, 75.0}, {1, 75.0}, {4, 90.0}})
    for (double bpm = from; bpm <= 180; bpm += 15) {
      const double beat = 60 / bpm;
      std::vector<PlayedNote> notes;
      std::vector<double> kicks, backbeats;
      for (int k = 0; k < 64; ++k) {
        const double t = 1 + k * beat;
        notes.push_back({t, t + 0.1, 36, 100});
        kicks.push_back(t);
        if (k % 2 == 1) {
          notes.push_back({t, t + 0.1, uint8_t(hats == 1 ? 39 : 38), 100});
          backbeats.push_back(t);
        }
        for (int h = 0; h < hats; ++h) {
          const double at = t + (hats == 1 ? 0.5 : h / double(hats)) * beat;
          notes.push_back({at, at + 0.05, uint8_t(hats == 1 ? 46 : 42), 90});
        }
      }
      const Grid grid = findGrid(notes);
      EXPECT_LE(takes::tempoError(grid.beats, kicks), 0.02)
          << hats << " hats a beat, " << bpm << " BPM";
      EXPECT_EQ(0, grid.numerator % 2) << hats << " hats a beat, " << bpm << " BPM";
      EXPECT_LT(takes::fMeasure(takes::barLines(grid), backbeats), 0.1)
          << hats << " hats a beat, " << bpm << " BPM";
    }
}

// A kit's kick and backbeat alternating at the halves of the beats are a rock beat counted at half
// its tempo, while that backbeat comes no faster than 200 BPM; faster, they are a polka's oom-pah
// at its own tempo.
struct Groove {
  const char* what;
  double bpm;
  bool snareOnHalves; // the snare between every two kicks, else on every other beat
};

TEST(KitGroove, IsCountedAtTheDrummersTempo) {
  for (const Groove& g : {Groove{"rock beat", 85, false}, Groove{"rock beat", 170, false},
                          Groove{"rock beat", 180, false}, Groove{"polka on a kit", 110, true},
                          Groove{"polka on a kit", 130, true}}) {
    const double beat = 60 / g.bpm;
    std::vector<PlayedNote> notes;
    std::vector<double> beats;
    for (int k = 0; k < 64; ++k) {
      const double t = 1 + k * beat, half = t + beat / 2;
      beats.push_back(t);
      for (double at : {t, half})
        notes.push_back({at, at + 0.05, 42, 80});
      if (g.snareOnHalves || k % 2 == 0) notes.push_back({t, t + 0.1, 36, 100});
      if (g.snareOnHalves) notes.push_back({half, half + 0.1, 38, 100});
      if (!g.snareOnHalves && k % 2 == 1) notes.push_back({t, t + 0.1, 38, 100});
    }
    EXPECT_LE(takes::tempoError(findGrid(notes).beats, beats), 0.02) << g.what << " at " << g.bpm;
  }
}

// The halves and the eighths of half bars are the beat only where bars of five or seven are
// played: no steady take in two, three or four, where the prior counts half notes or not, gets
// bars of five or seven.
TEST(OddBars, OnlyWhereFiveOrSevenArePlayed) {
  for (takes::TakeKind kind : takes::kinds()) {
    if (kind.texture == takes::Texture::Vamp || kind.bpmFrom != kind.bpmTo) continue;
    for (double bpm : {120.0, 180.0}) {
      kind.bpmFrom = kind.bpmTo = bpm;
      const Grid grid = findGrid(takes::makeTake(kind, 1).notes);
      EXPECT_TRUE(grid.numerator != 5 && grid.numerator != 7) << kind.name << " at " << bpm;
    }
  }
}

// A player who followed the host's clock gives its tempo: the beats are the clock's, and the
// phase, the meter (unless given too) and the bar lines are still found. The host counts
// quarters: a 6/8 to its 150 is counted in dotted quarters at 100, a riff in 7/8 to its 135 in
// eighths at 270. The grid is as sure of the pulse as the playing shows it.
struct Clock {
  const char* kind;
  bool meterGiven;
  bool inQuarters; // the tempo given as the host shows it, not in the counted beats
};

void PrintTo(const Clock& c, std::ostream* out) {
  *out << c.kind << (c.meterGiven ? ", meter given" : "") << (c.inQuarters ? ", in quarters" : "");
}

class KnownTempo : public ::testing::TestWithParam<Clock> {};

TEST_P(KnownTempo, BeatsAreEvenAndInPhase) {
  const takes::TakeKind& kind = kindNamed(GetParam().kind);
  const double quarters =
      GetParam().inQuarters ? quartersPerBeat(kind.numerator, kind.denominator) : 1;
  for (uint32_t seed = 3; seed <= 5; ++seed) {
    const takes::Take take = takes::makeTake(kind, seed);
    const GridOptions options{kind.bpmFrom * quarters, GetParam().meterGiven ? kind.numerator : 0,
                              GetParam().meterGiven ? kind.denominator : 0};
    const Grid grid = findGrid(take.notes, options);
    ASSERT_TRUE(grid.pulse);
    for (size_t k = 1; k < grid.beats.size(); ++k)
      EXPECT_NEAR(grid.beats[k] - grid.beats[k - 1], 60 / kind.bpmFrom, 1e-9);
    EXPECT_EQ(kind.numerator, grid.numerator) << "seed " << seed;
    EXPECT_EQ(kind.denominator, grid.denominator) << "seed " << seed;
    EXPECT_GE(takes::fMeasure(grid.beats, take.beats), 0.97) << "seed " << seed;
    EXPECT_GE(takes::fMeasure(takes::barLines(grid), take.downbeats), 0.90) << "seed " << seed;
    EXPECT_GE(grid.confidence, 0.4) << "seed " << seed;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, KnownTempo,
    ::testing::Values(Clock{"march 4/4 100", true, false}, Clock{"march 4/4 60", false, false},
                      Clock{"polka 2/4 120", false, false}, Clock{"waltz 3/4 150", false, false},
                      Clock{"barcarolle 6/8 100", false, false},
                      Clock{"chorale 3/4 72", false, false}, Clock{"toccata 4/4 176", false, false},
                      Clock{"barcarolle 6/8 100", false, true},
                      Clock{"barcarolle 6/8 60", true, true}, Clock{"riff 7/8 270", false, true}));

// A clock that is not the one played to gives a grid that says it is unsure.
TEST(KnownTempo, AClockNotPlayedToIsUnsure) {
  const Grid grid = findGrid(takes::makeTake(kindNamed("march 4/4 100"), 3).notes, {135});
  EXPECT_LT(grid.confidence, 0.2);
}

// A clock's beats are laid over the whole take: one of a million beats a minute would hold
// gigabytes, and one a billion minutes long sized its fit by an overflowing count.
TEST(KnownTempo, OutsideOneToAThousandBpmIsRefused) {
  const std::vector<PlayedNote> notes = takes::makeTake(kindNamed("march 4/4 100"), 3).notes;
  for (double bpm : {1e-9, 0.5, 1001.0, 1e9, HUGE_VAL})
    EXPECT_THROW(findGrid(notes, {bpm}), std::invalid_argument) << bpm;
  EXPECT_NO_THROW(findGrid(notes, {1}));
  EXPECT_NO_THROW(findGrid(notes, {1000}));
}

TEST(GivenMeter, IsKeptAndOthersRefused) {
  const takes::Take take = takes::makeTake(kindNamed("barcarolle 6/8 100"), 4);
  const Grid grid = findGrid(take.notes, {0, 6, 8});
  EXPECT_EQ(grid.numerator, 6);
  EXPECT_EQ(grid.denominator, 8);
  EXPECT_GE(takes::fMeasure(takes::barLines(grid), take.downbeats), 0.90);
  EXPECT_THROW(findGrid(take.notes, {0, 3, 2}), std::invalid_argument);
}

struct NoPulseCase {
  const char* name;
  std::vector<PlayedNote> notes;
};

// Too few notes have no pulse; random times get a grid, but one that says it is unsure.
TEST(NoPulse, IsSaidAndTheMapStillPlacesTheWholeTake) {
  const std::vector<NoPulseCase> cases = {
      {"nothing", {}},
      {"three notes", {{1.0, 1.5, 60, 80}, {1.7, 2.0, 64, 80}, {3.1, 4.0, 67, 80}}},
      {"random times, a minute", takes::randomNotes(300, 60, 21)},
      {"random times, five minutes", takes::randomNotes(1500, 300, 22)},
      // Stamped across a day: no pulse to follow, and no day of frames to step through.
      {"twenty notes over a day", takes::randomNotes(20, 86400, 23)},
  };
  for (const NoPulseCase& c : cases) {
    const Grid grid = findGrid(c.notes);
    if (c.notes.size() < 8 || c.name == std::string("twenty notes over a day")) {
      EXPECT_FALSE(grid.pulse) << c.name;
      EXPECT_EQ(grid.numerator, 4) << c.name;
    }
    EXPECT_LT(grid.confidence, 0.2) << c.name;
    double end = 0;
    for (const PlayedNote& n : c.notes)
      end = std::max(end, n.end);
    // The map goes on past the grid's last beat (a constant grid holds two): the take's last
    // message still lands on its second.
    const TempoMap map(grid, 960);
    EXPECT_NEAR(map.secondsAt(map.tickAt(end)), end, 0.001) << c.name;
  }
}

// Every message must play within 1 ms (and half a tick) of its second, wherever it falls: before
// the first beat, in the pickup, after the last note; and the bar lines the file's time
// signatures draw must fall on the grid's downbeats.
class WrittenMap : public ::testing::TestWithParam<const char*> {};

TEST_P(WrittenMap, PlacesEveryNoteWithinAMillisecondAndBarsOnDownbeats) {
  const takes::Take take = takes::makeTake(kindNamed(GetParam()), 5);
  const Grid grid = findGrid(take.notes);
  for (uint16_t ppq : {960, 480}) {
    const TempoMap map(grid, ppq);
    std::vector<double> times = {0.0, 1e-4, grid.beats.back() + 3};
    for (const PlayedNote& n : take.notes)
      times.insert(times.end(), {n.start, n.end});
    for (double t : times) {
      const uint64_t tick = map.tickAt(t);
      const double back = map.secondsAt(tick);
      ASSERT_LE(std::abs(back - t), 0.001) << t << " s at ppq " << ppq;
      // Half a tick of the tempo it was placed in: the tick before or after a tempo change.
      const double tickBefore = tick > 0 ? back - map.secondsAt(tick - 1) : 0;
      const double tickAfter = map.secondsAt(tick + 1) - back;
      ASSERT_LE(std::abs(back - t), 0.5001 * std::max(tickBefore, tickAfter)) << t;
    }
    // The bar lines the written signatures draw, up to the last one the grid has.
    const std::vector<double> lines = takes::barLines(grid);
    const uint64_t last = map.tickAt(lines.back());
    std::vector<uint64_t> drawn;
    for (size_t i = 0; i < map.meters().size(); ++i) {
      const MeterChange& m = map.meters()[i];
      const uint64_t until = i + 1 < map.meters().size() ? map.meters()[i + 1].tick : last + 1;
      const uint64_t bar = uint64_t(m.numerator) * 4 * ppq / uint64_t(m.denominator);
      for (uint64_t t = m.tick; t < until; t += bar)
        drawn.push_back(t);
    }
    for (double t : lines) {
      const uint64_t tick = map.tickAt(t);
      const auto near =
          std::lower_bound(drawn.begin(), drawn.end(), tick - std::min<uint64_t>(tick, 1));
      EXPECT_TRUE(near != drawn.end() && *near <= tick + 1) << "bar line at " << t << " s";
    }
    for (size_t k = 1; k < map.tempos().size(); ++k)
      EXPECT_GT(map.tempos()[k].tick, map.tempos()[k - 1].tick);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, WrittenMap,
                         ::testing::Values("march 4/4 100", "chorale 3/4 72", "barcarolle 6/8 60",
                                           "ritardando waltz 3/4 160-100"));

TEST(WrittenMap, APickupIsAShortBarOfItsOwn) {
  // Beats every 0.5 s from -0.2 s; bars of 3 from the beat at 0.8 s: the take opens with 0.6 of a
  // beat (rounded to 2 sixteenths, an eighth), then one whole beat before the first bar line.
  Grid grid;
  grid.pulse = true;
  for (int k = 0; k < 12; ++k)
    grid.beats.push_back(-0.2 + 0.5 * k);
  grid.numerator = 3;
  grid.denominator = 4;
  grid.firstDownbeat = 2;
  const TempoMap map(grid, 960);
  ASSERT_EQ(map.meters().size(), 2u);
  EXPECT_EQ(map.meters()[0].tick, 0u);
  EXPECT_EQ(map.meters()[0].numerator, 3);
  EXPECT_EQ(map.meters()[0].denominator, 8);
  EXPECT_EQ(map.meters()[1].tick, 480u + 960u);
  EXPECT_EQ(map.tickAt(0.8), 1440u);
}

TEST(WrittenMap, ABarOfAnotherLengthHasItsOwnSignature) {
  // Beats every 0.5 s from 0 in 3/4 (960 ticks a beat).
  const struct {
    std::vector<size_t> downbeats;
    std::vector<MeterChange> expected;
  } cases[] = {
      // The second bar lost a beat, the fourth gained one.
      {{0, 3, 5, 8, 12, 15}, {{0, 3, 4}, {2880, 2, 4}, {4800, 3, 4}, {7680, 4, 4}, {11520, 3, 4}}},
      // Three bars of two in a row, as a piece in 2/4 would: one signature for them.
      {{0, 3, 5, 7, 9, 12, 15}, {{0, 3, 4}, {2880, 2, 4}, {8640, 3, 4}}},
  };
  for (const auto& c : cases) {
    Grid grid;
    grid.pulse = true;
    for (int k = 0; k < 18; ++k)
      grid.beats.push_back(0.5 * k);
    grid.numerator = 3;
    grid.denominator = 4;
    grid.downbeats = c.downbeats;
    const TempoMap map(grid, 960);
    ASSERT_EQ(map.meters().size(), c.expected.size()) << c.downbeats.size();
    for (size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(map.meters()[i].tick, c.expected[i].tick) << i;
      EXPECT_EQ(map.meters()[i].numerator, c.expected[i].numerator) << i;
      EXPECT_EQ(map.meters()[i].denominator, c.expected[i].denominator) << i;
    }
  }
}

// The trackers keep their ways back only as far as their paths still differ. On a trellis of
// random ways (each node's step back up to `reach` frames, onto one of the few states that most
// paths favour, or none near the start), settled as a tracker settles it, every path read at the
// end must be the one that following every way kept gives; where the paths never meet, every
// way stays.
struct Trellis {
  int states, reach, favoured; // favoured: the states steps lead onto; more join more slowly
  size_t frames;
  bool meet; // whether the paths meet often enough to let most frames go
};

void PrintTo(const Trellis& c, std::ostream* out) {
  *out << c.states << " states, reach " << c.reach << ", " << c.favoured << " favoured, "
       << c.frames << " frames";
}

class SettledPaths : public ::testing::TestWithParam<Trellis> {};

TEST_P(SettledPaths, EndAsEveryWayKeptWouldTell) {
  const Trellis c = GetParam();
  std::mt19937 random(uint32_t(c.frames + size_t(c.states)));
  // A way: frames back (0 for none) and the state there, two bytes a state.
  std::vector<uint8_t> all;
  grid::PathMemory memory(2 * size_t(c.states), c.states);
  auto backIn = [&](const uint8_t* row, grid::PathNode at) -> grid::PathNode {
    const uint8_t gap = row[2 * at.state];
    if (gap == 0) return {};
    return {at.frame - gap, row[2 * at.state + 1]};
  };
  auto back = [&](grid::PathNode at) { return backIn(memory.row(at.frame), at); };
  size_t settles = 0;
  for (size_t f = 0; f < c.frames; ++f) {
    uint8_t* row = memory.add(0);
    for (int s = 0; s < c.states; ++s) {
      const int gap = 1 + int(random() % unsigned(c.reach));
      const bool first = f < size_t(c.reach) && (f < size_t(gap) || random() % 4 == 0);
      row[2 * s] = first ? 0 : uint8_t(gap);
      row[2 * s + 1] = uint8_t(random() % unsigned(c.favoured));
    }
    all.insert(all.end(), row, row + 2 * c.states);
    if (f % 97 == 96) {
      memory.settle(
          size_t(c.reach), [](size_t, int) { return true; }, back);
      ++settles;
    }
  }
  ASSERT_GT(settles, 3u);
  if (c.meet)
    EXPECT_LT(memory.kept(), c.frames / 2);
  else
    EXPECT_EQ(memory.kept(), c.frames);
  for (size_t f = c.frames - size_t(c.reach); f < c.frames; ++f)
    for (int s = 0; s < c.states; ++s) {
      std::vector<size_t> expected;
      for (grid::PathNode at{f, s}; at.state >= 0;
           at = backIn(&all[at.frame * 2 * size_t(c.states)], at))
        expected.insert(expected.begin(), at.frame);
      ASSERT_EQ(memory.path({f, s}, back), expected) << "ending at frame " << f << ", state " << s;
    }
}

INSTANTIATE_TEST_SUITE_P(Trellises, SettledPaths,
                         ::testing::Values(Trellis{4, 3, 1, 500, true},
                                           Trellis{33, 9, 3, 2000, true},
                                           Trellis{66, 20, 4, 3000, true},
                                           Trellis{25, 40, 25, 3000, false}));

} // namespace
} // namespace quorb
