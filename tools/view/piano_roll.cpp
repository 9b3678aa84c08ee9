#include "piano_roll.h"

#include "message.h"
#include "numbers.h"
#include "svg_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

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

constexpr int VELOCITY_STEPS = 4;
constexpr uint8_t SUSTAIN = 64;

int velocityStep(uint8_t velocity) { return std::min(VELOCITY_STEPS - 1, velocity / 32); }
bool isBlackKey(int key) { return (0x54A >> (key % 12)) & 1; } // C#, D#, F#, G#, A#

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

void PianoRoll::drawTake() {
  ++summary_.takes;
  summary_.notes += notes_.size();
  // A damaged file can read as a new take at nearly every record: the picture stays readable.
  if (summary_.takes > uint64_t(MAX_TAKES)) return;
  const double seconds = double(end_) / options_.rate;
  const double perSecond =
      seconds > 0 ? std::min(MAX_PER_SECOND, ROLL_MAX / seconds) : MAX_PER_SECOND;
  const double perTick = perSecond / options_.rate;
  const double rollWidth = std::max(1.0, seconds * perSecond);
  const auto xTenths = [&](uint64_t ticks) {
    return std::llround((LEFT + double(ticks) * perTick) * 10);
  };

  int low = 60, high = 71; // a take without notes shows the octave of middle C
  if (!notes_.empty()) {
    low = 127;
    high = 0;
    for (const Note& note : notes_) {
      low = std::min<int>(low, note.key);
      high = std::max<int>(high, note.key);
    }
  }
  low = low / 12 * 12;
  high = std::min(127, high / 12 * 12 + 11);
  const int top = height_ + HEADING;
  const int rows = high - low + 1;
  const int rollBottom = top + rows * ROW;
  const int pedalTop = rollBottom + GAP;
  const int bendTop = pedalTop + PEDAL + GAP;
  const int lanesBottom = bends_.empty() ? pedalTop + PEDAL : bendTop + BEND;
  const auto rowMiddle = [&](int key) { return (top + (high - key) * ROW) * 10 + ROW * 5; };
  const std::string right = tenths(LEFT + rollWidth);
  std::string& out = body_;

  out += "<g id=\"take" + std::to_string(number_) + "\"><text class=\"h\" x=\"" +
         std::to_string(LEFT) + "\" y=\"" + std::to_string(height_ + 17) + "\">Take " +
         std::to_string(number_) + "</text><text x=\"" + std::to_string(LEFT + 64) + "\" y=\"" +
         std::to_string(height_ + 17) + "\">" + clock(seconds, seconds < 600) + " \xC2\xB7 " +
         plural(notes_.size(), "note");
  if (!pedal_.empty()) out += " \xC2\xB7 pedal";
  if (marksNotDrawn_ > 0)
    out += " \xC2\xB7 " + std::to_string(marksNotDrawn_) + " more marks not drawn";
  out += "</text>\n";

  // Black keys' rows shaded, octaves ruled, the Cs named.
  out += "<path class=\"k\" d=\"";
  for (int key = low; key <= high; ++key)
    if (isBlackKey(key))
      out += "M" + std::to_string(LEFT) + " " + tenths(rowMiddle(key) / 10.0) + "H" + right;
  out += "\"/>\n<path class=\"o\" d=\"";
  for (int key = low; key <= high; key += 12)
    out += "M" + std::to_string(LEFT) + " " + std::to_string(top + (high - key + 1) * ROW) + ".5H" +
           right;
  out += "\"/>\n";
  for (int key = low; key <= high; key += 12)
    out += "<text x=\"" + std::to_string(LEFT - 28) + "\" y=\"" +
           std::to_string(top + (high - key + 1) * ROW) + "\">" + noteName(uint8_t(key)) +
           "</text>";
  out += "<text x=\"" + std::to_string(LEFT - 40) + "\" y=\"" + std::to_string(pedalTop + 7) +
         "\">pedal</text>";
  if (!bends_.empty())
    out += "<text x=\"" + std::to_string(LEFT - 40) + "\" y=\"" +
           std::to_string(bendTop + BEND / 2 + 4) + "\">bend</text>";

  // The time grid across roll and lanes, labelled under them.
  const double step = gridStep(perSecond);
  std::string grid = "<path class=\"g\" d=\"", labels;
  for (int64_t i = 0; i * step <= seconds + 1e-9; ++i) {
    const std::string x = tenths(LEFT + i * step * perSecond);
    grid += "M" + x + " " + std::to_string(top) + "V" + std::to_string(lanesBottom);
    labels += "<text x=\"" + x + "\" y=\"" + std::to_string(lanesBottom + AXIS - 3) +
              "\" text-anchor=\"middle\">" + gridLabel(i * step, seconds) + "</text>";
  }
  out += grid + "\"/>\n" + labels + "\n";

  // Lanes' grounds, then the pedal held down.
  out += "<rect class=\"lane\" x=\"" + std::to_string(LEFT) + "\" y=\"" + std::to_string(pedalTop) +
         "\" width=\"" + tenths(rollWidth) + "\" height=\"" + std::to_string(PEDAL) + "\"/>";
  if (!bends_.empty())
    out += "<rect class=\"lane\" x=\"" + std::to_string(LEFT) + "\" y=\"" +
           std::to_string(bendTop) + "\" width=\"" + tenths(rollWidth) + "\" height=\"" +
           std::to_string(BEND) + "\"/><path class=\"o\" d=\"M" + std::to_string(LEFT) + " " +
           std::to_string(bendTop + BEND / 2) + ".5H" + right + "\"/>";
  for (const Span& span : pedal_) {
    std::string x;
    putTenths(x, xTenths(span.from));
    std::string width;
    putTenths(width, std::max<int64_t>(5, xTenths(span.to) - xTenths(span.from)));
    out += "<rect class=\"p c" + std::to_string(span.channel) + "\" x=\"" + x + "\" y=\"" +
           std::to_string(pedalTop) + "\" width=\"" + width + "\" height=\"" +
           std::to_string(PEDAL) + "\"/>";
  }
  out += "\n";

  // The notes: a path per channel and velocity step, each bar a relative move and a line, so that
  // a note costs a dozen bytes or so.
  struct Pen {
    std::string d;
    int64_t x = 0, y = 0;
  };
  std::vector<Pen> pens(16 * VELOCITY_STEPS);
  for (const Note& note : notes_) {
    Pen& pen = pens[note.channel * VELOCITY_STEPS + velocityStep(note.velocity)];
    const int64_t x = xTenths(note.on), y = rowMiddle(note.key);
    const int64_t width = std::max<int64_t>(5, xTenths(note.off) - x);
    pen.d += pen.d.empty() ? 'M' : 'm';
    putPathNumber(pen.d, x - pen.x);
    putPathNumber(pen.d, y - pen.y);
    pen.d += 'h';
    putPathNumber(pen.d, width);
    pen.x = x + width;
    pen.y = y;
  }
  for (size_t i = 0; i < pens.size(); ++i) {
    if (pens[i].d.empty()) continue;
    out += "<path class=\"n c" + std::to_string(i / VELOCITY_STEPS);
    if (i % VELOCITY_STEPS != VELOCITY_STEPS - 1) out += " v" + std::to_string(i % VELOCITY_STEPS);
    out += "\" d=\"" + pens[i].d + "\"/>\n";
  }

  // Pitch bend, a stepped line per channel from the centre (no bend) at the take's start.
  for (int channel = 0; channel < 16; ++channel) {
    std::string d;
    int64_t lastX = -1, lastY = -1;
    const int64_t centre = (bendTop + BEND / 2) * 10;
    for (const Bend& bend : bends_) {
      if (bend.channel != channel) continue;
      if (d.empty()) {
        d = "M" + std::to_string(LEFT) + " " + std::to_string(bendTop + BEND / 2);
        lastX = LEFT * 10;
        lastY = centre;
      }
      const int64_t x = xTenths(bend.ticks);
      const int64_t y = centre - std::llround(bend.value / 8192.0 * (BEND / 2 - 1) * 10);
      if (x != lastX) {
        d += 'H';
        putTenths(d, x);
      }
      if (y != lastY) {
        d += 'V';
        putTenths(d, y);
      }
      lastX = x;
      lastY = y;
    }
    if (!d.empty())
      out += "<path class=\"b c" + std::to_string(channel) + "\" d=\"" + d + "H" + right + "\"/>\n";
  }

  // Hanging notes, marked at the take's end; damage and pause ends across the whole section.
  for (const Note& note : notes_) {
    if (!note.hanging) continue;
    std::string x, y;
    putTenths(x, xTenths(end_));
    putTenths(y, rowMiddle(note.key) - 30);
    out += "<path class=\"hang\" d=\"M" + x + " " + y + "l5 3-5 3z\"><title>" +
           noteName(uint8_t(note.key)) + " on channel " + std::to_string(note.channel + 1) +
           " still held when the take ended: drawn to its end</title></path>\n";
  }
  for (const Mark& mark : marks_) {
    std::string x;
    putTenths(x, xTenths(mark.ticks));
    const std::string line =
        "M" + x + " " + std::to_string(top - 4) + "V" + std::to_string(lanesBottom);
    if (mark.pause)
      out += "<path class=\"pause\" d=\"" + line + "\"><title>" + escaped(mark.text) +
             "</title></path>\n";
    else
      out += "<g class=\"dmg\"><path d=\"" + line + "\"/><path d=\"M" + x + " " +
             std::to_string(top - 2) + "l-5-8h10z\"/><title>" + escaped(mark.text) +
             "</title></g>\n";
  }
  out += "</g>\n";
  height_ = lanesBottom + AXIS + AFTER;
}

void PianoRoll::write(std::ostream& page) {
  page.exceptions(std::ios_base::badbit | std::ios_base::failbit);
  const int height = summary_.takes == 0                    ? TITLE + 30
                     : summary_.takes > uint64_t(MAX_TAKES) ? height_ + 20
                                                            : height_;
  // A page around the drawing: an HTML parser takes <svg> in as SVG, where a bare .svg file
  // would need the SVG namespace declared. The <svg> element stands on lines of its own.
  page << "<!DOCTYPE html>\n<meta charset=\"utf-8\">\n<title>" << escaped(options_.title)
       << "</title>\n<svg width=\"" << WIDTH << "\" height=\"" << height << "\" viewBox=\"0 0 "
       << WIDTH << " " << height << "\">\n<style>" << svg::STYLE;
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
  if (summary_.takes > uint64_t(MAX_TAKES))
    page << "<text x=\"" << LEFT << "\" y=\"" << height - 8 << "\">" << summary_.takes - MAX_TAKES
         << " more takes not drawn</text>\n";
  if (summary_.takes == 0)
    page << "<text x=\"" << LEFT << "\" y=\"" << TITLE + 16 << "\">no records</text>\n";
  page << body_ << "</svg>\n";
  page.flush();
}

} // namespace quorb
