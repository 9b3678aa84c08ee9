// How well and how fast findGrid finds the musician's grid.
//
//   quorb_grid_bench [GRID_DEV_FOLDER] [--verbose] [--meter-alone [--faults]]
//
// 1. The synthetic takes (tools/grid/takes.h), five seeds each: beat and bar F-measure (70 ms),
//    tempo error, metrical level and the meter found, steady and expressive kinds apart; and the
//    steady kinds by a looser player.
// 2. Each steady texture at every tempo from 60 to 180 BPM in steps of 15.
// 3. Human piano performances with hand-annotated beats, when GRID_DEV_FOLDER holds them
//    (NAME.mid beside NAME_annotations.txt): the same measures per file and their means.
//    With --meter-alone, instead: the meter step alone on the annotated beats, so that its bar
//    lines and beats a bar are measured apart from the beat tracker's errors; with --faults
//    too, on the annotated beats with the tracker's typical faults added (see withFaults).
//    Then the same performances played steadily (see playSteadily): the steady takes' goal on
//    real pieces' textures, apart from how the tracker follows a changing tempo; and once more
//    with that steady tempo given, as --tempo gives it, so that only the phase and bars are found.
// 4. The time findGrid takes on one generated hour of about 200,000 notes, best of three, and
//    the peak memory of this process afterwards.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include "grid.h"
#include "grid_parts.h"
#include "smf.h"
#include "takes.h"

namespace {

using namespace quorb;

struct Scores {
  double beatF = 0, barF = 0, tempo = 0, level = 0;
  int files = 0, beatsAbove = 0, barsAbove = 0;
  int atLevel = 0, noPulse = 0, meterRight = 0; // counted by gridDev only
  void add(double b, double d, double t, double l) {
    beatF += b, barF += d, tempo += t, level += l, ++files;
    beatsAbove += b >= 0.8, barsAbove += d >= 0.6;
    atLevel += l > 0.85 && l < 1.18;
  }
  void print(const char* what) const {
    if (files == 0) return;
    std::printf("%-34s beat F %.3f  bar F %.3f  tempo error %5.1f %%  level %.2f  (%d)\n", what,
                beatF / files, barF / files, 100 * tempo / files, level / files, files);
  }
};

// The measures of a synthetic take's grid against its known one.
void addTake(Scores& scores, const takes::Take& take, const Grid& grid) {
  scores.add(takes::fMeasure(grid.beats, take.beats),
             takes::fMeasure(takes::barLines(grid), take.downbeats),
             takes::tempoError(grid.beats, take.beats), takes::levelRatio(grid.beats, take.beats));
}

std::string meterText(int numerator, int denominator) {
  return std::to_string(numerator) + "/" + std::to_string(denominator);
}

void synthetic() {
  std::printf("Synthetic takes, 5 seeds each (beat F, bar F, tempo error, level, meters found)\n");
  Scores steady, expressive;
  for (const takes::TakeKind& kind : takes::kinds()) {
    Scores one;
    std::map<std::string, int> meters;
    for (uint32_t seed = 1; seed <= 5; ++seed) {
      const takes::Take take = takes::makeTake(kind, seed);
      const Grid grid = findGrid(take.notes);
      addTake(one, take, grid);
      ++meters[meterText(grid.numerator, grid.denominator)];
    }
    one.print(kind.name.c_str());
    std::printf("%34s meter %s:", "", meterText(kind.numerator, kind.denominator).c_str());
    for (const auto& [m, n] : meters)
      std::printf(" %s x%d", m.c_str(), n);
    std::printf("\n");
    (kind.bpmFrom == kind.bpmTo ? steady : expressive)
        .add(one.beatF / 5, one.barF / 5, one.tempo / 5, one.level / 5);
  }
  steady.print("mean, steady kinds");
  expressive.print("mean, accelerando and ritardando");
  // The steady kinds once more by a looser player, every note up to 30 ms off rather than 15:
  // how far the steady takes' goal holds beyond the timing it is set for.
  Scores loose;
  int under = 0;
  for (takes::TakeKind kind : takes::kinds()) {
    if (kind.bpmFrom != kind.bpmTo) continue;
    kind.looseness = 2;
    Scores one;
    for (uint32_t seed = 1; seed <= 5; ++seed) {
      const takes::Take take = takes::makeTake(kind, seed);
      const Grid grid = findGrid(take.notes);
      addTake(one, take, grid);
    }
    under += one.beatF / 5 < 0.97 || one.barF / 5 < 0.90;
    loose.add(one.beatF / 5, one.barF / 5, one.tempo / 5, one.level / 5);
  }
  loose.print("steady kinds, notes 30 ms off");
  std::printf("%34s kinds under beat F 0.97 or bar F 0.90: %d of %d\n", "", under, loose.files);
  int pulses = 0;
  for (uint32_t seed = 1; seed <= 10; ++seed)
    pulses += findGrid(takes::randomNotes(300, 60, seed)).pulse;
  std::printf("random times: a pulse found in %d of 10 takes\n\n", pulses);
}

// Each steady texture at every tempo from 60 to 180 BPM in steps of 15, not only at the tempos
// of its kind: a musician plays to whatever click the song wants.
void tempoSweep() {
  std::printf("Steady textures over 60-180 BPM, 3 seeds each (beat F / bar F)\n");
  Scores all;
  int beatsShort = 0, barsShort = 0;
  std::map<std::pair<int, int>, bool> seen; // texture, numerator
  for (const takes::TakeKind& kind : takes::kinds()) {
    if (kind.bpmFrom != kind.bpmTo || seen[{int(kind.texture), kind.numerator}]) continue;
    seen[{int(kind.texture), kind.numerator}] = true;
    const std::string name = kind.name.substr(0, kind.name.rfind(' '));
    std::printf("%-16s", name.c_str());
    for (double bpm = 60; bpm <= 180; bpm += 15) {
      takes::TakeKind at = kind;
      at.bpmFrom = at.bpmTo = bpm;
      Scores one;
      for (uint32_t seed = 1; seed <= 3; ++seed) {
        const takes::Take take = takes::makeTake(at, seed);
        const Grid grid = findGrid(take.notes);
        addTake(one, take, grid);
      }
      std::printf(" %3.0f %.2f/%.2f", bpm, one.beatF / 3, one.barF / 3);
      all.add(one.beatF / 3, one.barF / 3, one.tempo / 3, one.level / 3);
      beatsShort += one.beatF / 3 < 0.97;
      barsShort += one.barF / 3 < 0.90;
    }
    std::printf("\n");
  }
  all.print("mean over textures and tempos");
  std::printf("%34s beat F under 0.97: %d, bar F under 0.90: %d, of %d\n\n", "", beatsShort,
              barsShort, all.files);
}

// Notes from a MIDI file's channel messages; a Note On at velocity 0 ends a note.
std::vector<PlayedNote> notesOf(const std::string& path) {
  std::vector<PlayedNote> notes;
  std::map<int, std::vector<size_t>> sounding; // channel * 128 + key
  for (const TimedMessage& m : readChannelMessages(path)) {
    const int status = m.word & 0xF0, key = (m.word >> 8) & 0x7F, velocity = (m.word >> 16) & 0x7F;
    const int slot = (m.word & 0x0F) * 128 + key;
    if (status == 0x90 && velocity > 0) {
      sounding[slot].push_back(notes.size());
      notes.push_back({m.seconds, m.seconds, uint8_t(key), uint8_t(velocity)});
    } else if ((status == 0x80 || status == 0x90) && !sounding[slot].empty()) {
      notes[sounding[slot].front()].end = m.seconds;
      sounding[slot].erase(sounding[slot].begin());
    }
  }
  return notes;
}

// The meter step on the annotated beats: bar F as found, bar F with the bar's length given (the
// phase alone), and whether the beats a bar holds and the compound division are found.
struct MeterAlone {
  double barF = 0, phaseF = 0;
  int files = 0, lengthRight = 0, meterRight = 0;
  void print(const char* what) const {
    if (files == 0) return;
    std::printf("%-34s bar F %.3f  at the annotated length %.3f  beats a bar right %d, and the "
                "division %d, of %d\n",
                what, barF / files, phaseF / files, lengthRight, meterRight, files);
  }
};

// The annotated beats with the tracker's typical faults at about the rates measured on its
// output: one beat added midway between two every 97 beats, and runs of 12 beats in every 100
// moved onto the off-beat, so that the meter step's robustness is measured against known bars.
std::vector<double> withFaults(const std::vector<double>& beats) {
  std::vector<double> out;
  for (size_t k = 0; k < beats.size(); ++k) {
    const bool next = k + 1 < beats.size();
    if (next && k % 100 >= 40 && k % 100 < 52)
      out.push_back((beats[k] + beats[k + 1]) / 2);
    else
      out.push_back(beats[k]);
    if (next && k % 97 == 70) out.push_back((beats[k] + beats[k + 1]) / 2);
  }
  return out;
}

// The annotated bar length: the most common count of beats between downbeats.
int annotatedBar(const std::vector<bool>& isDownbeat) {
  std::map<int, int> lengths;
  int count = 0;
  bool started = false;
  for (bool downbeat : isDownbeat) {
    if (downbeat) {
      if (started) ++lengths[count];
      started = true;
      count = 0;
    }
    ++count;
  }
  int length = 4, most = 0;
  for (const auto& [n, times] : lengths)
    if (times > most) most = times, length = n;
  return length;
}

// Whether a time signature written "N/D" counts dotted quarters: 6/8, 9/8, 12/8.
bool compoundMeter(const std::string& meter) {
  const size_t slash = meter.find('/');
  if (slash == std::string::npos) return false;
  const int numerator = std::atoi(meter.c_str()),
            denominator = std::atoi(meter.c_str() + slash + 1);
  return denominator == 8 && numerator % 3 == 0 && numerator > 3;
}

// Adds one file to `into`; 6/8, 9/8 and 12/8 count dotted quarters.
void meterAlone(const std::vector<PlayedNote>& notes, const std::vector<double>& annotated,
                bool faulty, const std::vector<bool>& isDownbeat, const std::string& meter,
                std::initializer_list<MeterAlone*> into, const char* name, bool verbose) {
  std::vector<double> downbeats;
  for (size_t k = 0; k < annotated.size(); ++k)
    if (isDownbeat[k]) downbeats.push_back(annotated[k]);
  const int length = annotatedBar(isDownbeat);
  const bool compound = compoundMeter(meter);

  const std::vector<PlayedNote> sorted = grid::sortedNotes(notes);
  const std::vector<grid::Onset> onsets = grid::makeOnsets(sorted);
  const std::vector<double> beats = faulty ? withFaults(annotated) : annotated;
  auto barF = [&](const grid::Meter& m) {
    std::vector<double> lines;
    for (size_t k : m.bars)
      lines.push_back(beats[k]);
    return takes::fMeasure(lines, downbeats);
  };
  const grid::Meter found = grid::findMeter(sorted, onsets, beats, 0, 0);
  const double f = barF(found), phaseF = barF(grid::findMeter(sorted, onsets, beats, length, 4));
  const int foundLength = beatsPerBar(found.numerator, found.denominator);
  const bool lengthRight = foundLength == length;
  const bool meterRight = lengthRight && (found.denominator == 8) == compound;
  for (MeterAlone* s : into) {
    s->barF += f, s->phaseF += phaseF, ++s->files;
    s->lengthRight += lengthRight, s->meterRight += meterRight;
  }
  if (verbose)
    std::printf("  %-48s bar F %.3f  at its length %.3f  meter %s (%d%s) found %s (%d%s)\n", name,
                f, phaseF, meter.c_str(), length, compound ? " compound" : "",
                meterText(found.numerator, found.denominator).c_str(), foundLength,
                found.denominator == 8 ? " compound" : "");
}

// The performance played steadily: every time moved so that the annotated beats fall evenly at
// their median period, then each note moved by up to 15 ms as a player's hands would, so that
// the steady takes' goal is measured on real pieces' textures as well as on the synthetic ones.
void playSteadily(std::vector<PlayedNote>& notes, std::vector<double>& beats,
                  std::vector<double>& downbeats, uint32_t seed) {
  if (beats.size() < 2) return;
  std::vector<double> gaps;
  for (size_t k = 1; k < beats.size(); ++k)
    gaps.push_back(beats[k] - beats[k - 1]);
  std::nth_element(gaps.begin(), gaps.begin() + long(gaps.size() / 2), gaps.end());
  const double period = gaps[gaps.size() / 2];
  // Read from a copy: the beats themselves are moved last, in place.
  const std::vector<double> annotated = beats;
  auto warp = [&](double t) {
    size_t k = size_t(std::upper_bound(annotated.begin(), annotated.end(), t) - annotated.begin());
    k = std::clamp<size_t>(k, 1, annotated.size() - 1);
    const double span = std::max(annotated[k] - annotated[k - 1], 1e-3);
    return period * (double(k - 1) + (t - annotated[k - 1]) / span) + 1.0;
  };
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> jitter(-0.015, 0.015);
  for (PlayedNote& n : notes) {
    const double start = warp(n.start), moved = jitter(random);
    n.end = std::max(start, warp(n.end)) + moved;
    n.start = start + moved;
  }
  for (double& d : downbeats)
    d = warp(d);
  for (double& b : beats)
    b = warp(b);
  // Notes long before the first annotated beat may have been carried below zero.
  double first = 0;
  for (const PlayedNote& n : notes)
    first = std::min(first, n.start);
  for (PlayedNote& n : notes)
    n.start -= first, n.end -= first;
  for (std::vector<double>* times : {&beats, &downbeats})
    for (double& t : *times)
      t -= first;
}

// How the performances are played to the finder: as recorded; steadily (see playSteadily); or
// steadily with the tempo given, as a player who followed the host's clock gives it (--tempo):
// in counted beats, or in quarters as the host and a DAW count them (only the pieces in 6/8, 9/8
// and 12/8, whose counted beat, the dotted quarter, is one and a half of those).
enum class Played { AsRecorded, Steadily, ToAClock, ToAClockOfQuarters };

void gridDev(const std::string& folder, bool verbose, bool alone, bool faults, Played played) {
  const bool steady = played != Played::AsRecorded;
  const bool clock = played == Played::ToAClock || played == Played::ToAClockOfQuarters;
  namespace fs = std::filesystem;
  if (!fs::is_directory(folder)) {
    std::printf("grid-dev not found: skipped (looked in %s)\n\n", folder.c_str());
    return;
  }
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".mid") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  if (played == Played::Steadily)
    std::printf("grid-dev played steadily: its annotated beats made even, each note then moved "
                "by up to 15 ms (%zu files)\n",
                files.size());
  else if (played == Played::ToAClock)
    std::printf("grid-dev played steadily to a clock whose tempo is given (%zu files)\n",
                files.size());
  else if (played == Played::ToAClockOfQuarters)
    std::printf("grid-dev in 6/8, 9/8 and 12/8 played steadily to a clock of quarters whose "
                "tempo is given, as a host shows it\n");
  else
    std::printf("grid-dev, human piano performances (%zu files)\n", files.size());
  // Two halves by a fixed rule (odd and even place in name order): a change that helps only
  // the half it was tuned on is overfitting.
  Scores all, half[2];
  MeterAlone allAlone, halfAlone[2];
  size_t index = 0;
  for (const fs::path& midi : files) {
    Scores& part = half[index++ % 2];
    std::ifstream in(midi.parent_path() / (midi.stem().string() + "_annotations.txt"));
    if (!in) continue;
    std::vector<double> beats, downbeats;
    std::vector<bool> isDownbeat;
    std::string line, meter = "?";
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      double seconds;
      std::string skip, kind;
      if (!(fields >> seconds >> skip >> kind)) continue;
      beats.push_back(seconds);
      isDownbeat.push_back(kind.rfind("db", 0) == 0);
      if (isDownbeat.back()) downbeats.push_back(seconds);
      const size_t comma = kind.find(',');
      if (meter == "?" && comma != std::string::npos) {
        const std::string signature = kind.substr(comma + 1, kind.find(',', comma + 1) - comma - 1);
        if (!signature.empty()) meter = signature;
      }
    }
    if (alone) {
      const std::string name =
          std::string(1, "AB"[(index - 1) % 2]) + " " + midi.stem().string().substr(0, 46);
      meterAlone(notesOf(midi.string()), beats, faults, isDownbeat, meter,
                 {&allAlone, &halfAlone[(index - 1) % 2]}, name.c_str(), verbose);
      continue;
    }
    if (played == Played::ToAClockOfQuarters && !compoundMeter(meter)) continue;
    std::vector<PlayedNote> notes = notesOf(midi.string());
    GridOptions options;
    if (steady) playSteadily(notes, beats, downbeats, uint32_t(index));
    if (clock)
      options.knownBpm = 60 * double(beats.size() - 1) / (beats.back() - beats.front()) *
                         (played == Played::ToAClockOfQuarters ? 1.5 : 1);
    const Grid grid = findGrid(notes, options);
    const double beatF = takes::fMeasure(grid.beats, beats);
    const double barF = takes::fMeasure(takes::barLines(grid), downbeats);
    const double level = takes::levelRatio(grid.beats, beats);
    const std::string found = meterText(grid.numerator, grid.denominator);
    for (Scores* s : {&all, &part}) {
      s->add(beatF, barF, takes::tempoError(grid.beats, beats), level);
      s->noPulse += !grid.pulse;
      s->meterRight += found == meter;
    }
    if (verbose)
      std::printf(
          "  %c %-46s beat F %.3f  bar F %.3f  level %.2f  meter %s found %s  conf %.2f%s\n",
          "AB"[(index - 1) % 2], midi.stem().string().substr(0, 46).c_str(), beatF, barF, level,
          meter.c_str(), found.c_str(), grid.confidence, grid.pulse ? "" : "  no pulse");
  }
  if (alone) {
    std::printf("The meter step alone, on the annotated beats%s\n",
                faults ? " with a beat added and off-beat runs" : "");
    allAlone.print("mean, grid-dev");
    halfAlone[0].print("  half A (even places)");
    halfAlone[1].print("  half B (odd places)");
    std::printf("\n");
    return;
  }
  const std::pair<const char*, const Scores*> parts[] = {
      {played == Played::ToAClock             ? "mean, grid-dev, its tempo given"
       : played == Played::ToAClockOfQuarters ? "mean, its tempo given in quarters"
       : played == Played::Steadily           ? "mean, grid-dev played steadily"
                                              : "mean, grid-dev (expressive)",
       &all},
      {"  half A (even places)", &half[0]},
      {"  half B (odd places)", &half[1]}};
  for (const auto& [name, s] : parts) {
    s->print(name);
    std::printf("%34s beat F >= 0.8: %d, bar F >= 0.6: %d, at the annotated level: %d, meter as "
                "annotated: %d, no pulse: %d, of %d\n",
                "", s->beatsAbove, s->barsAbove, s->atLevel, s->meterRight, s->noPulse, s->files);
  }
  std::printf("\n");
}

void oneHour() {
  takes::TakeKind kind{"toccata 4/4 176", takes::Texture::Toccata, 4, 4, 176, 176, 0, 2630};
  const takes::Take take = takes::makeTake(kind, 7);
  double best = 1e9;
  Grid grid;
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    grid = findGrid(take.notes);
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    best = std::min(best, spent.count());
  }
  std::printf("one hour: %zu notes over %.0f s, findGrid %.3f s (best of 3), beat F %.3f\n",
              take.notes.size(), take.beats.back(), best, takes::fMeasure(grid.beats, take.beats));
#if defined(__linux__)
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak memory of this process: %.1f MB\n", double(usage.ru_maxrss) / 1024);
#endif
}

} // namespace

int main(int argc, char** argv) {
  std::string folder = "../shared/grid-dev";
  bool verbose = false, alone = false, faults = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--verbose")
      verbose = true;
    else if (arg == "--meter-alone")
      alone = true;
    else if (arg == "--faults")
      faults = true;
    else
      folder = arg;
  }
  try {
    synthetic();
    tempoSweep();
    gridDev(folder, verbose, alone, faults, Played::AsRecorded);
    if (!alone) {
      gridDev(folder, verbose, false, false, Played::Steadily);
      gridDev(folder, verbose, false, false, Played::ToAClock);
      gridDev(folder, verbose, false, false, Played::ToAClockOfQuarters);
    }
    oneHour();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorb_grid_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
