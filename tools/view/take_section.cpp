// A take's section of the picture, part by part: heading, keyboard, time grid, lanes, notes,
// bends and marks, each from the section's layout.
#include "piano_roll.h"

#include "message.h"
#include "numbers.h"
#include "svg_text.h"

#include <algorithm>
#include <cmath>

namespace quorb {
namespace {

using namespace layout;
using namespace svg;

constexpr int VELOCITY_STEPS = 4;

int velocityStep(uint8_t velocity) { return std::min(VELOCITY_STEPS - 1, velocity / 32); }
bool isBlackKey(int key) { return (0x54A >> (key % 12)) & 1; } // C#, D#, F#, G#, A#

} // namespace

// Where a take's section goes on the page: its time scale, the keys it shows and the rows and
// lanes below them. Every part of the section is drawn from it.
struct PianoRoll::Section {
  double seconds, perSecond, perTick, rollWidth;
  int low, high; // the keys shown: whole octaves
  int top, rollBottom, pedalTop, bendTop, lanesBottom;
  std::string right; // the roll's right edge

  int64_t xTenths(uint64_t ticks) const {
    return std::llround((LEFT + double(ticks) * perTick) * 10);
  }
  int64_t rowMiddle(int key) const { return (top + (high - key) * ROW) * 10 + ROW * 5; }
};

PianoRoll::Section PianoRoll::layOut() const {
  Section at{};
  at.seconds = double(end_) / options_.rate;
  at.perSecond = MAX_PER_SECOND;
  if (at.seconds > 0)
    at.perSecond = std::min({std::clamp(ROLL_FIT / at.seconds, MIN_PER_SECOND, MAX_PER_SECOND),
                             ROLL_WIDEST / at.seconds});
  at.perTick = at.perSecond / options_.rate;
  at.rollWidth = std::max(1.0, at.seconds * at.perSecond);
  int low = 60, high = 71; // a take without notes shows the octave of middle C
  if (!notes_.empty()) {
    low = 127;
    high = 0;
    for (const Note& note : notes_) {
      low = std::min<int>(low, note.key);
      high = std::max<int>(high, note.key);
    }
  }
  at.low = low / 12 * 12;
  at.high = std::min(127, high / 12 * 12 + 11);
  at.top = height_ + HEADING;
  at.rollBottom = at.top + (at.high - at.low + 1) * ROW;
  at.pedalTop = at.rollBottom + GAP;
  at.bendTop = at.pedalTop + PEDAL + GAP;
  at.lanesBottom = bends_.empty() ? at.pedalTop + PEDAL : at.bendTop + BEND;
  at.right = tenths(LEFT + at.rollWidth);
  return at;
}

void PianoRoll::drawTake() {
  ++summary_.takes;
  summary_.notes += notes_.size();
  // A damaged file can read as a new take at nearly every record: the picture stays readable.
  if (summary_.takes > uint64_t(MAX_TAKES)) return;
  const Section at = layOut();
  widestRoll_ = std::max(widestRoll_, at.rollWidth);
  for (const Note& note : notes_)
    channelsDrawn_ |= uint16_t(1u << note.channel);
  for (const Span& span : pedal_)
    channelsDrawn_ |= uint16_t(1u << span.channel);
  for (const Bend& bend : bends_)
    channelsDrawn_ |= uint16_t(1u << bend.channel);
  drawHeading(at);
  drawKeyboard(at);
  drawTimeGrid(at);
  drawMusicGrid(at);
  drawLanes(at);
  drawNotes(at);
  drawBends(at);
  drawMarks(at);
  body_ += "</g>\n";
  height_ = at.lanesBottom + AXIS + AFTER;
}

// "Take N", its length and notes.
void PianoRoll::drawHeading(const Section& at) {
  std::string& out = body_;
  out += "<g id=\"take" + std::to_string(number_) + "\"><text class=\"h\" x=\"" +
         std::to_string(LEFT) + "\" y=\"" + std::to_string(height_ + 17) + "\">Take " +
         std::to_string(number_) + "</text><text x=\"" + std::to_string(LEFT + 64) + "\" y=\"" +
         std::to_string(height_ + 17) + "\">" + clock(at.seconds, at.seconds < 600) + " \xC2\xB7 " +
         plural(notes_.size(), "note");
  if (!pedal_.empty()) out += " \xC2\xB7 pedal";
  if (!gridText_.empty()) out += " \xC2\xB7 " + gridText_;
  if (marksNotDrawn_ > 0)
    out += " \xC2\xB7 " + std::to_string(marksNotDrawn_) + " more marks not drawn";
  out += "</text>\n";
}

void PianoRoll::drawKeyboard(const Section& at) {
  std::string& out = body_;
  // Black keys' rows shaded, octaves ruled, the Cs named.
  out += "<path class=\"k\" d=\"";
  for (int key = at.low; key <= at.high; ++key)
    if (isBlackKey(key))
      out += "M" + std::to_string(LEFT) + " " + tenths(at.rowMiddle(key) / 10.0) + "H" + at.right;
  out += "\"/>\n<path class=\"o\" d=\"";
  for (int key = at.low; key <= at.high; key += 12)
    out += "M" + std::to_string(LEFT) + " " + std::to_string(at.top + (at.high - key + 1) * ROW) +
           ".5H" + at.right;
  out += "\"/>\n";
  for (int key = at.low; key <= at.high; key += 12)
    out += "<text x=\"" + std::to_string(LEFT - 28) + "\" y=\"" +
           std::to_string(at.top + (at.high - key + 1) * ROW) + "\">" + noteName(uint8_t(key)) +
           "</text>";
  out += "<text x=\"" + std::to_string(LEFT - 40) + "\" y=\"" + std::to_string(at.pedalTop + 7) +
         "\">pedal</text>";
  if (!bends_.empty())
    out += "<text x=\"" + std::to_string(LEFT - 40) + "\" y=\"" +
           std::to_string(at.bendTop + BEND / 2 + 4) + "\">bend</text>";
}

void PianoRoll::drawTimeGrid(const Section& at) {
  std::string& out = body_;
  // The time grid across roll and lanes, labelled under them.
  const double step = gridStep(at.perSecond);
  std::string grid = "<path class=\"g\" d=\"", labels;
  for (int64_t i = 0; i * step <= at.seconds + 1e-9; ++i) {
    const std::string x = tenths(LEFT + i * step * at.perSecond);
    grid += "M" + x + " " + std::to_string(at.top) + "V" + std::to_string(at.lanesBottom);
    labels += "<text x=\"" + x + "\" y=\"" + std::to_string(at.lanesBottom + AXIS - 3) +
              "\" text-anchor=\"middle\">" + gridLabel(i * step, at.seconds) + "</text>";
  }
  out += grid + "\"/>\n" + labels + "\n";
}

// The grid tomidi writes: a faint line at each beat and a stronger one, numbered above the roll,
// at each bar line, as far as they stay apart: beats 4 px, bar lines 2 px, numbers 24 px.
void PianoRoll::drawMusicGrid(const Section& at) {
  if (beatMarks_.size() < 2) return;
  const double span =
      double(at.xTenths(beatMarks_.back().first) - at.xTenths(beatMarks_.front().first)) / 10;
  const double perBeat = span / double(beatMarks_.size() - 1);
  uint64_t bars = 0;
  for (const auto& mark : beatMarks_)
    bars += mark.second != 0;
  const double perBar = bars > 1 ? span / double(bars - 1) : span;
  const uint64_t numberEvery = perBar >= 24 ? 1 : uint64_t(std::ceil(24 / std::max(perBar, 0.1)));
  std::string beats, lines, numbers;
  for (const auto& [ticks, bar] : beatMarks_) {
    std::string x;
    putTenths(x, at.xTenths(ticks));
    const std::string line =
        "M" + x + " " + std::to_string(at.top) + "V" + std::to_string(at.rollBottom);
    if (bar == 0) {
      if (perBeat >= 4) beats += line;
      continue;
    }
    if (perBar >= 2) lines += line;
    if ((bar - 1) % numberEvery == 0)
      numbers += "<text class=\"bn\" x=\"" + x + "\" y=\"" + std::to_string(at.top - 2) + "\">" +
                 std::to_string(bar) + "</text>";
  }
  if (!beats.empty()) body_ += "<path class=\"beat\" d=\"" + beats + "\"/>\n";
  if (!lines.empty()) body_ += "<path class=\"bar\" d=\"" + lines + "\"/>\n";
  body_ += numbers + "\n";
}

void PianoRoll::drawLanes(const Section& at) {
  std::string& out = body_;
  // Lanes' grounds, then the pedal held down.
  out += "<rect class=\"lane\" x=\"" + std::to_string(LEFT) + "\" y=\"" +
         std::to_string(at.pedalTop) + "\" width=\"" + tenths(at.rollWidth) + "\" height=\"" +
         std::to_string(PEDAL) + "\"/>";
  if (!bends_.empty())
    out += "<rect class=\"lane\" x=\"" + std::to_string(LEFT) + "\" y=\"" +
           std::to_string(at.bendTop) + "\" width=\"" + tenths(at.rollWidth) + "\" height=\"" +
           std::to_string(BEND) + "\"/><path class=\"o\" d=\"M" + std::to_string(LEFT) + " " +
           std::to_string(at.bendTop + BEND / 2) + ".5H" + at.right + "\"/>";
  for (const Span& span : pedal_) {
    std::string x;
    putTenths(x, at.xTenths(span.from));
    std::string width;
    putTenths(width, std::max<int64_t>(5, at.xTenths(span.to) - at.xTenths(span.from)));
    out += "<rect class=\"p c" + std::to_string(span.channel) + "\" x=\"" + x + "\" y=\"" +
           std::to_string(at.pedalTop) + "\" width=\"" + width + "\" height=\"" +
           std::to_string(PEDAL) + "\"/>";
  }
  out += "\n";
}

void PianoRoll::drawNotes(const Section& at) {
  std::string& out = body_;
  // The notes: a path per channel and velocity step, each bar a relative move and a line, so that
  // a note costs a dozen bytes or so.
  struct Pen {
    std::string d;
    int64_t x = 0, y = 0;
  };
  std::vector<Pen> pens(16 * VELOCITY_STEPS);
  for (const Note& note : notes_) {
    Pen& pen = pens[note.channel * VELOCITY_STEPS + velocityStep(note.velocity)];
    const int64_t x = at.xTenths(note.on), y = at.rowMiddle(note.key);
    const int64_t width = std::max<int64_t>(5, at.xTenths(note.off) - x);
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
}

void PianoRoll::drawBends(const Section& at) {
  std::string& out = body_;
  // Pitch bend, a stepped line per channel from the centre (no bend) at the take's start.
  for (int channel = 0; channel < 16; ++channel) {
    std::string d;
    int64_t lastX = -1, lastY = -1;
    const int64_t centre = (at.bendTop + BEND / 2) * 10;
    for (const Bend& bend : bends_) {
      if (bend.channel != channel) continue;
      if (d.empty()) {
        d = "M" + std::to_string(LEFT) + " " + std::to_string(at.bendTop + BEND / 2);
        lastX = LEFT * 10;
        lastY = centre;
      }
      const int64_t x = at.xTenths(bend.ticks);
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
      out +=
          "<path class=\"b c" + std::to_string(channel) + "\" d=\"" + d + "H" + at.right + "\"/>\n";
  }
}

void PianoRoll::drawMarks(const Section& at) {
  std::string& out = body_;
  // Hanging notes, marked at the take's end; damage and pause ends across the whole section.
  for (const Note& note : notes_) {
    if (!note.hanging) continue;
    std::string x, y;
    putTenths(x, at.xTenths(end_));
    putTenths(y, at.rowMiddle(note.key) - 30);
    out += "<path class=\"hang\" d=\"M" + x + " " + y + "l5 3-5 3z\"><title>" +
           noteName(uint8_t(note.key)) + " on channel " + std::to_string(note.channel + 1) +
           " still held when the take ended: drawn to its end</title></path>\n";
  }
  for (const Mark& mark : marks_) {
    std::string x;
    putTenths(x, at.xTenths(mark.ticks));
    const std::string line =
        "M" + x + " " + std::to_string(at.top - 4) + "V" + std::to_string(at.lanesBottom);
    if (mark.pause)
      out += "<path class=\"pause\" d=\"" + line + "\"><title>" + escaped(mark.text) +
             "</title></path>\n";
    else
      out += "<g class=\"dmg\"><path d=\"" + line + "\"/><path d=\"M" + x + " " +
             std::to_string(at.top - 2) + "l-5-8h10z\"/><title>" + escaped(mark.text) +
             "</title></g>\n";
  }
}

} // namespace quorb
