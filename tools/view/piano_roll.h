#ifndef QUORB_TOOLS_VIEW_PIANO_ROLL_H
#define QUORB_TOOLS_VIEW_PIANO_ROLL_H

// A recording file drawn as a piano roll: one SVG drawing in an HTML page that any web browser
// opens, a section per take in file order.
// A legend under the title says what colours, lightness and marks mean. Each section has a
// heading (take number, length, notes), a roll (x seconds, y pitch, a bar per note coloured by
// channel, its opacity by velocity), a band for the sustain pedal under it, a
// lane for pitch bend when the take has any, and a time axis. Notes still held at the take's end
// reach its end and are marked; damage the reader skipped, system statuses and pause ends are
// vertical marks whose <title> says what happened.
//
// The picture is meant to stay small for long takes: styles are CSS classes defined once, the
// notes of one channel and velocity step are one <path> of relative moves, coordinates are
// rounded to tenths of a pixel. About 14 bytes a note (make bench-tools measures it).
//
// Use: pass a PianoRoll to readRecording (it is the reading's sink), then call write once.

#include "message.h"
#include "recording.h"
#include "take_grid.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quorb {

struct ViewOptions {
  double rate = 44100; // host clock ticks per second, > 0
  std::string title;   // the picture's first line, e.g. the file's name (UTF-8)
  GridSettings grid;   // the beats and bar lines drawn: the grid tomidi writes
};

// The layout, in pixels. Fixed so that a picture can be checked at known places: with x and y
// below, a note of key K at second S in a take whose roll starts at `top` and whose highest
// drawn key is `high` (the B that ends the octave of its highest note) has its bar's middle at
// (LEFT + S * pixelsPerSecond, top + (high - K) * ROW + ROW / 2). A take gets
// ROLL_FIT / seconds pixels a second, kept from MIN_PER_SECOND to MAX_PER_SECOND, and no more
// than ROLL_WIDEST / seconds: a long take makes the picture wider than the window, and the
// browser scrolls it sideways.
namespace layout {
constexpr int WIDTH = 1200;            // the picture's width, or more for a wider roll
constexpr int LEFT = 48;               // where time 0 is; pitch names are left of it
constexpr int ROLL_FIT = 1120;         // a take fits this width when it can
constexpr double MAX_PER_SECOND = 200; // pixels a second for takes short enough
constexpr int ROW = 6;                 // pixels a semitone
constexpr int TITLE = 30;              // the picture's title above the legend
constexpr int LEGEND = 22;             // the legend's line above the first take
constexpr int HEADING = 26;            // a take's heading above its roll
constexpr int GAP = 4;                 // between the roll and the pedal band, the band and bends
constexpr int PEDAL = 8;               // the pedal band's height
constexpr int BEND = 24;               // the bend lane's height
constexpr int AXIS = 14;               // time labels under the lanes
constexpr int AFTER = 18;              // space after a take
constexpr int RIGHT = 32;              // space right of the widest roll
constexpr int MARKS_PER_TAKE = 200;    // more are counted in the heading, not drawn
constexpr int MAX_TAKES = 500;         // more are counted at the end, not drawn
// Sixteenths at 120 beats a minute 6 pixels apart, however long the take ...
constexpr double MIN_PER_SECOND = 50;
// ... until the roll is this wide (20 minutes at MIN_PER_SECOND; Chromium draws it whole).
constexpr int ROLL_WIDEST = 60000;
// The legend's items, their middles at LEGEND_MIDDLE: a bar of SWATCH pixels and a number per
// channel drawn, SWATCH_STEP apart from LEGEND_CHANNELS on; LEGEND_GAP after them, the velocity
// steps (each a bar of SWATCH), the held-note mark, damage and a pause end, each item as wide as
// its *_ITEM.
constexpr int LEGEND_MIDDLE = TITLE + 8;
constexpr int LEGEND_CHANNELS = 110;
constexpr int SWATCH_STEP = 30;
constexpr int SWATCH = 12;
constexpr int LEGEND_GAP = 16;
constexpr int VELOCITY_ITEM = 230;
constexpr int HELD_ITEM = 150;
constexpr int DAMAGE_ITEM = 100;
} // namespace layout

// The 16 channel colours, "#rrggbb", channel 1 first; the picture's CSS classes c0-c15 use them.
extern const char* const CHANNEL_COLOURS[16];
extern const char* const BACKGROUND_COLOUR; // where nothing is drawn
extern const char* const DAMAGE_COLOUR;     // damage and altered records
extern const char* const PAUSE_COLOUR;      // pause ends

struct ViewSummary {
  uint64_t takes = 0;
  uint64_t notes = 0;
  uint64_t hangingNotes = 0; // still held at their take's end
  uint64_t marks = 0;        // damage, altered records and pause ends, drawn or counted
};

class PianoRoll : public RecordingSink {
public:
  explicit PianoRoll(const ViewOptions& options); // throws std::invalid_argument for a bad rate

  void beginTake(uint64_t number) override;
  void event(const RecordedEvent& event) override;
  void endTake() override;
  void warning(const RecordingWarning& warning) override;

  // Writes the page, after the reading has ended: "<!DOCTYPE html>", its title, then the drawing
  // from a line starting "<svg" to the line "</svg>". Throws std::ios_base::failure when `page`
  // fails.
  void write(std::ostream& page);
  const ViewSummary& summary() const { return summary_; }

private:
  struct Note {
    uint64_t on, off;
    uint8_t key, channel, velocity;
    bool hanging;
  };
  struct Span { // a pedal held down
    uint64_t from, to;
    uint8_t channel;
  };
  struct Bend {
    uint64_t ticks;
    int16_t value; // -8192 to 8191
    uint8_t channel;
  };
  struct Mark {
    uint64_t ticks;
    bool pause;
    std::string text;
  };
  struct Pending { // a warning not yet placed in a take: placed by its offset
    uint64_t offset;
    std::string text;
  };

  void placeWarningsBefore(uint64_t offset, uint64_t ticks);
  void findMusicGrid(); // of the take just read, as tomidi finds it
  void drawLegend(std::ostream& page) const;
  void addMark(uint64_t ticks, bool pause, std::string text);

  // The section of the take just read, part by part into body_.
  struct Section;
  Section layOut() const;
  void drawTake();
  void drawHeading(const Section& at);
  void drawKeyboard(const Section& at);
  void drawTimeGrid(const Section& at);
  void drawMusicGrid(const Section& at); // the take's beats and numbered bar lines
  void drawLanes(const Section& at);
  void drawNotes(const Section& at);
  void drawBends(const Section& at);
  void drawMarks(const Section& at);

  ViewOptions options_;
  ViewSummary summary_;
  std::string body_; // the finished takes' sections
  int height_ = layout::TITLE + layout::LEGEND;
  double widestRoll_ = 0;
  uint16_t channelsDrawn_ = 0; // bit N: channel N+1 has a note, pedal or bend drawn

  // The take being read.
  uint64_t number_ = 0;
  uint64_t end_ = 0;
  bool hasEvents_ = false;
  uint64_t lastTicks_ = 0;
  std::vector<Note> notes_;
  std::vector<Span> pedal_;
  std::vector<Bend> bends_;
  std::vector<Mark> marks_;
  // The take's grid: each beat inside it, with its bar's number where a bar starts (else 0).
  std::vector<std::pair<uint64_t, uint64_t>> beatMarks_;
  std::string gridText_; // for the heading
  uint64_t marksNotDrawn_ = 0;
  HeldNotes held_;
  uint32_t noteAt_[16][128] =
      {};                   // index into notes_ of the note sounding, where held_ says one does
  int64_t pedalFrom_[16];   // ticks the pedal went down, or -1
  bool inPause_ = false;    // the record before was stamped at a pause's end
  uint64_t pauseTicks_ = 0; // the last pause end marked, and how many records it holds
  uint64_t pauseRecords_ = 0;
  std::vector<Pending> pending_; // in offset order, as the reader reports them
  size_t pendingNext_ = 0;
};

} // namespace quorb

#endif // QUORB_TOOLS_VIEW_PIANO_ROLL_H
