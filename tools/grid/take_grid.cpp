#include "take_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace quorb {

void NoteCollector::add(double seconds, uint32_t word, const HeldNotes::Change& change) {
  if (change.ends) notes_[sounding_[change.channel][change.key]].end = seconds;
  if (change.starts) {
    sounding_[change.channel][change.key] = uint32_t(notes_.size());
    notes_.push_back({seconds, seconds, change.key, uint8_t((word >> 16) & 0x7F)});
  }
}

std::vector<PlayedNote> NoteCollector::finish(double end) {
  // A note never ended has its start as its end; one still held lasts to the take's end.
  for (PlayedNote& note : notes_)
    if (note.end <= note.start) note.end = std::max(note.start, end);
  std::vector<PlayedNote> notes;
  notes.swap(notes_);
  return notes;
}

namespace {

// A constant tempo of `bpm` quarters a minute from second 0, in `meter`: its first two beats
// (Grid::beats), counted as the meter counts them.
Grid constantGrid(double bpm, std::pair<int, int> meter = {4, 4}) {
  Grid grid;
  grid.numerator = meter.first;
  grid.denominator = meter.second;
  grid.beats = {0, 60 / bpm * quartersPerBeat(meter.first, meter.second)};
  return grid;
}

} // namespace

Grid takeGrid(std::vector<PlayedNote> notes, const GridSettings& settings) {
  if (settings.plain) return constantGrid(settings.bpm);
  Grid grid = findGrid(std::move(notes), settings.find);
  if (!grid.pulse) {
    // What the musician gave still holds where the playing shows no pulse.
    const std::pair<int, int> meter =
        settings.find.numerator > 0
            ? std::pair<int, int>{settings.find.numerator, settings.find.denominator}
            : std::pair<int, int>{4, 4};
    Grid constant = constantGrid(settings.find.knownBpm > 0 ? settings.find.knownBpm : 120, meter);
    constant.pulse = false;
    return constant;
  }
  return grid;
}

GridSummary summarize(const Grid& grid, bool plain, double endSeconds) {
  GridSummary summary;
  summary.found = grid.pulse && !plain;
  summary.numerator = grid.numerator;
  summary.denominator = grid.denominator;
  summary.confidence = grid.confidence;
  summary.pieces = grid.pieces;
  // The tempo of the beats inside the take, from the tenth to the ninetieth percentile, so that
  // a stray beat at either end does not make a steady take look as if it moved.
  std::vector<double> bpm;
  for (size_t k = 1; k < grid.beats.size(); ++k)
    if (grid.beats[k] > 0 && grid.beats[k - 1] < endSeconds)
      bpm.push_back(60 / (grid.beats[k] - grid.beats[k - 1]));
  if (!bpm.empty()) {
    std::sort(bpm.begin(), bpm.end());
    summary.bpmLow = bpm[bpm.size() / 10];
    summary.bpmHigh = bpm[bpm.size() - 1 - bpm.size() / 10];
  }
  // Bar lines inside the take.
  const int perBar = beatsPerBar(grid.numerator, grid.denominator);
  if (!grid.downbeats.empty()) {
    for (size_t at : grid.downbeats)
      summary.bars += at < grid.beats.size() && grid.beats[at] < endSeconds;
  } else {
    for (size_t at = grid.firstDownbeat; at < grid.beats.size() && grid.beats[at] < endSeconds;
         at += size_t(perBar))
      ++summary.bars;
  }
  return summary;
}

std::string describe(const GridSummary& summary, bool plain) {
  char text[160];
  const double quarters = quartersPerBeat(summary.numerator, summary.denominator);
  if (!summary.found) {
    std::snprintf(text, sizeof text, "a constant %ld BPM in %d/%d (%s)",
                  std::lround(summary.bpmHigh * quarters), summary.numerator, summary.denominator,
                  plain ? "as asked" : "no steady pulse found");
    return text;
  }
  // BPM counts quarters, as the MIDI file, a DAW and the host's clock do; where the counted beat
  // is another note (6/8's dotted quarter, 7/8's eighth), its own tempo follows. Steady within
  // 4 %: one figure.
  const bool steady = summary.bpmHigh <= summary.bpmLow * 1.04;
  const auto figures = [&](double scale) {
    char text[32];
    if (steady)
      std::snprintf(text, sizeof text, "%ld",
                    std::lround((summary.bpmLow + summary.bpmHigh) / 2 * scale));
    else
      std::snprintf(text, sizeof text, "%ld-%ld", std::lround(summary.bpmLow * scale),
                    std::lround(summary.bpmHigh * scale));
    return std::string(text);
  };
  std::string tempo = figures(quarters) + " BPM";
  if (quarters != 1)
    tempo += " (" + figures(1) + (quarters > 1 ? " dotted quarters)" : " eighths)");
  // Each piece's meter in turn, once where the next piece keeps it.
  std::vector<std::pair<int, int>> meters = summary.pieces;
  if (meters.empty()) meters = {{summary.numerator, summary.denominator}};
  std::string meter;
  for (size_t i = 0; i < meters.size(); ++i)
    if (i == 0 || meters[i] != meters[i - 1])
      meter += (i == 0 ? "" : " then ") + std::to_string(meters[i].first) + "/" +
               std::to_string(meters[i].second);
  char pieces[32] = "";
  if (summary.pieces.size() > 1)
    std::snprintf(pieces, sizeof pieces, " in %zu pieces", summary.pieces.size());
  std::snprintf(text, sizeof text, ", %llu bar%s%s, confidence %.2f",
                (unsigned long long)summary.bars, summary.bars == 1 ? "" : "s", pieces,
                summary.confidence);
  return tempo + (", " + meter) + text;
}

} // namespace quorb
