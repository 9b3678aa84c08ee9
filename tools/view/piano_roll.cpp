#include "piano_roll.h"

#include "message.h"
#include "numbers.h"
#include "svg_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace quorb {

const char* const CHANNEL_COLOURS[16] = {
    "#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f",
    "#bcbd22", "#17becf", "#393b79", "#637939", "#8c6d31", "#843c39", "#7b4173", "#00a087"};
const char* const BACKGROUND_COLOUR = "#ffffff";
const char* const DAMAGE_COLOUR = "#e00000";
const char* const PAUSE_COLOUR = "#000000";

namespace {

using namespace layout;
using namespace svg;

constexpr uint8_t SUSTAIN = 64;

} // namespace

PianoRoll::PianoRoll(const ViewOptions& options) : options_(options) {
  if (!(options.rate > 0) || !std::isfinite(options.rate))
    throw std::invalid_argument("the rate must be a positive number of ticks per second");
}

void PianoRoll::beginTake(uint64_t number) {
  number_ = number;
  end_ = 0;
  hasEvents_ = false;
  notes_.clear();
  pedal_.clear();
  bends_.clear();
  marks_.clear();
  marksNotDrawn_ = 0;
  inPause_ = false;
  held_ = HeldNotes();
  std::fill(pedalFrom_, pedalFrom_ + 16, -1);
}

void PianoRoll::warning(const RecordingWarning& warning) {
  // Pause ends are marked from the records stamped at them, which say more.
  if (warning.kind == RecordingWarning::Kind::TimeBackwards) return;
  pending_.push_back({warning.offset, warning.text});
}

// Warnings about bytes before `offset` belong where the take stood before this record: the
// record after the damage is where reading resumed.
void PianoRoll::placeWarningsBefore(uint64_t offset, uint64_t ticks) {
  while (pendingNext_ < pending_.size() && pending_[pendingNext_].offset < offset) {
    addMark(ticks, false, std::move(pending_[pendingNext_].text));
    ++pendingNext_;
  }
  if (pendingNext_ == pending_.size()) {
    pending_.clear();
    pendingNext_ = 0;
  }
}

void PianoRoll::addMark(uint64_t ticks, bool pause, std::string text) {
  ++summary_.marks;
  if (marks_.size() < size_t(MARKS_PER_TAKE))
    marks_.push_back({ticks, pause, std::move(text)});
  else
    ++marksNotDrawn_;
}

void PianoRoll::event(const RecordedEvent& event) {
  const uint64_t at = event.placedTicks;
  placeWarningsBefore(event.offset, hasEvents_ ? lastTicks_ : at);
  hasEvents_ = true;
  lastTicks_ = at;
  end_ = std::max(end_, at);

  // The records stamped as one pause ended come in a row and share one place: one mark.
  if (event.ahead) {
    if (!inPause_ || pauseTicks_ != at) {
      pauseTicks_ = at;
      pauseRecords_ = 0;
      addMark(at, true, "");
    }
    ++pauseRecords_;
    if (!marks_.empty() && marks_.back().pause && marks_.back().ticks == at)
      marks_.back().text =
          "a pause ended here (the paused time is cut out): " + plural(pauseRecords_, "message") +
          " stamped as it ended";
  }
  inPause_ = event.ahead;
  if (channelMessageSize(event.message) != 3) return;
  const uint8_t status = event.message & 0xF0;
  const uint8_t channel = event.message & 0x0F;
  const uint8_t data1 = (event.message >> 8) & 0x7F;
  const uint8_t data2 = (event.message >> 16) & 0x7F;
  const HeldNotes::Change change = held_.apply(event.message);
  if (change.ends) notes_[size_t(noteAt_[channel][data1])].off = at;
  if (change.starts) {
    noteAt_[channel][data1] = uint32_t(notes_.size());
    notes_.push_back({at, at, data1, channel, data2, false});
  }
  if (status == 0xB0 && data1 == SUSTAIN) {
    int64_t& from = pedalFrom_[channel];
    if (data2 >= 64 && from < 0) from = int64_t(at);
    if (data2 < 64 && from >= 0) {
      pedal_.push_back({uint64_t(from), at, channel});
      from = -1;
    }
  } else if (status == 0xE0) {
    bends_.push_back({at, int16_t(int(data1 | data2 << 7) - 8192), channel});
  }
}

void PianoRoll::endTake() {
  findMusicGrid();
  placeWarningsBefore(UINT64_MAX, end_);
  held_.endAll([&](uint8_t channel, uint8_t key) {
    Note& note = notes_[size_t(noteAt_[channel][key])];
    note.off = end_;
    note.hanging = true;
    ++summary_.hangingNotes;
  });
  for (int channel = 0; channel < 16; ++channel) {
    if (pedalFrom_[channel] >= 0)
      pedal_.push_back({uint64_t(pedalFrom_[channel]), end_, uint8_t(channel)});
  }
  drawTake();
}

void PianoRoll::findMusicGrid() {
  beatMarks_.clear();
  gridText_.clear();
  std::vector<PlayedNote> played;
  played.reserve(notes_.size());
  for (const Note& note : notes_)
    played.push_back({double(note.on) / options_.rate, double(note.off) / options_.rate, note.key,
                      note.velocity});
  const double end = double(end_) / options_.rate;
  const Grid grid = takeGrid(std::move(played), options_.grid);
  const bool plain = options_.grid.plain;
  gridText_ = describe(summarize(grid, plain, end), plain);
  if (!grid.pulse && !plain) return; // nothing found: no beats to draw
  if (plain) {
    // A constant grid holds its first two beats and goes on at their pace (Grid::beats). Beats
    // closer than a tenth of a pixel on the widest roll show nothing: a take that long (a damaged
    // file's clock can stretch one over thousands of hours) gets no marks rather than millions.
    const double beat = grid.beats[1] - grid.beats[0];
    if (end / beat > 10.0 * ROLL_WIDEST) return;
    const size_t perBar = size_t(beatsPerBar(grid.numerator, grid.denominator));
    for (size_t k = 0; double(k) * beat <= end; ++k)
      beatMarks_.push_back({uint64_t(std::llround(double(k) * beat * options_.rate)),
                            k % perBar == 0 ? k / perBar + 1 : 0});
    return;
  }
  std::vector<size_t> bars = grid.downbeats;
  if (bars.empty())
    for (size_t at = grid.firstDownbeat; at < grid.beats.size();
         at += size_t(beatsPerBar(grid.numerator, grid.denominator)))
      bars.push_back(at);
  size_t nextBar = 0;
  for (size_t k = 0; k < grid.beats.size(); ++k) {
    const bool bar = nextBar < bars.size() && bars[nextBar] == k;
    if (bar) ++nextBar;
    if (grid.beats[k] < 0 || grid.beats[k] > end) continue;
    beatMarks_.push_back(
        {uint64_t(std::llround(grid.beats[k] * options_.rate)), bar ? uint64_t(nextBar) : 0});
  }
}

// What colours, lightness and marks mean, on one line, drawn with the classes of what they
// explain so that they look alike.
void PianoRoll::drawLegend(std::ostream& page) const {
  const auto text = [&](int x, const char* words) {
    page << "<text x=\"" << x << "\" y=\"" << LEGEND_MIDDLE + 4 << "\">" << words << "</text>";
  };
  const auto bar = [&](int x, const std::string& classes) {
    page << "<path class=\"n " << classes << "\" d=\"M" << x << " " << LEGEND_MIDDLE << "h"
         << SWATCH << "\"/>";
  };
  page << "<g id=\"legend\">";
  text(LEFT - 40, "colour = channel");
  int x = LEGEND_CHANNELS;
  int first = -1;
  for (int channel = 0; channel < 16; ++channel) {
    if (!(channelsDrawn_ >> channel & 1)) continue;
    if (first < 0) first = channel;
    bar(x, "c" + std::to_string(channel));
    text(x + SWATCH + 3, std::to_string(channel + 1).c_str());
    x += SWATCH_STEP;
  }
  x += LEGEND_GAP;
  const std::string colour = "c" + std::to_string(std::max(first, 0));
  for (int step = 0; step < 4; ++step)
    bar(x + step * (SWATCH + 2), colour + (step < 3 ? " v" + std::to_string(step) : ""));
  text(x + 4 * (SWATCH + 2) + 4, "lighter = softer (velocity)");
  x += VELOCITY_ITEM;
  page << "<path class=\"hang\" d=\"M" << x << " " << LEGEND_MIDDLE - 3 << "l5 3-5 3z\"/>";
  text(x + 10, "held at the take's end");
  x += HELD_ITEM;
  const auto line = [&](const char* classes) {
    page << "<path class=\"" << classes << "\" d=\"M" << x + 2 << " " << LEGEND_MIDDLE - 6
         << "v12\"/>";
  };
  line("dmg");
  text(x + 10, "damage skipped");
  x += DAMAGE_ITEM;
  line("pause");
  text(x + 10, "a pause ended");
  page << "</g>\n";
}

void PianoRoll::write(std::ostream& page) {
  page.exceptions(std::ios_base::badbit | std::ios_base::failbit);
  const int height = summary_.takes == 0                    ? TITLE + LEGEND + 30
                     : summary_.takes > uint64_t(MAX_TAKES) ? height_ + 20
                                                            : height_;
  const int width = std::max(WIDTH, int(std::ceil(LEFT + widestRoll_)) + RIGHT);
  // A page around the drawing: an HTML parser takes <svg> in as SVG, where a bare .svg file
  // would need the SVG namespace declared. The <svg> element stands on lines of its own.
  page << "<!DOCTYPE html>\n<meta charset=\"utf-8\">\n<title>" << escaped(options_.title)
       << "</title>\n<svg width=\"" << width << "\" height=\"" << height << "\" viewBox=\"0 0 "
       << width << " " << height << "\">\n<style>" << svg::STYLE;
  for (int channel = 0; channel < 16; ++channel)
    page << ".c" << channel << "{stroke:" << CHANNEL_COLOURS[channel]
         << ";fill:" << CHANNEL_COLOURS[channel] << "}";
  // After the colours: a pedal span is filled, a note path is not.
  page << ".dmg{stroke:" << DAMAGE_COLOUR << ";fill:" << DAMAGE_COLOUR
       << "}.pause{stroke:" << PAUSE_COLOUR
       << "}.n,.b{fill:none}.p{stroke:none}</style>\n<rect width=\"100%\" height=\"100%\" fill=\""
       << BACKGROUND_COLOUR << "\"/>\n<text class=\"t\" x=\"" << LEFT - 40 << "\" y=\"20\">"
       << escaped(options_.title) << " \xC2\xB7 " << plural(summary_.takes, "take") << " \xC2\xB7 "
       << options_.rate << " ticks a second</text>\n";
  drawLegend(page);
  if (summary_.takes > uint64_t(MAX_TAKES))
    page << "<text x=\"" << LEFT << "\" y=\"" << height - 8 << "\">" << summary_.takes - MAX_TAKES
         << " more takes not drawn</text>\n";
  if (summary_.takes == 0)
    page << "<text x=\"" << LEFT << "\" y=\"" << TITLE + LEGEND + 16 << "\">no records</text>\n";
  page << body_ << "</svg>\n";
  page.flush();
}

} // namespace quorb
