#include "commands.h"

#include <algorithm>
#include <iostream>

#include "files.h"
#include "message.h"
#include "numbers.h"

namespace quorb {
namespace {

// Per take: where it lies, how many messages, how long, and its grid. Only the take being read
// keeps its notes, for finding the grid at its end.
class InfoCollector : public RecordingSink {
public:
  struct Summary {
    uint64_t first = 0, last = 0, messages = 0, duration = 0;
    GridSummary grid;
  };
  InfoCollector(double rate, const GridSettings& grid) : rate_(rate), grid_(grid) {}
  std::vector<Summary> takes;
  WarningLog warnings;
  uint64_t restruck = 0; // notes ended by a Note On of their own key (message.h's rule)

  void beginTake(uint64_t) override {
    takes.emplace_back();
    held_ = HeldNotes();
  }
  void event(const RecordedEvent& event) override {
    const HeldNotes::Change change = held_.apply(event.message);
    restruck += change.ends && change.starts;
    Summary& s = takes.back();
    if (s.messages++ == 0) s.first = event.index;
    s.last = event.index;
    s.duration = std::max(s.duration, event.ticks);
    const double seconds = double(event.placedTicks) / rate_;
    notes_.add(seconds, event.message, change);
  }
  void endTake() override {
    const double end = double(takes.back().duration) / rate_;
    takes.back().grid = summarize(takeGrid(notes_.finish(end), grid_), grid_.plain, end);
  }
  void warning(const RecordingWarning& warning) override { warnings.add(warning); }

private:
  double rate_;
  GridSettings grid_;
  HeldNotes held_;
  NoteCollector notes_;
};

} // namespace

void info(const std::string& file, const Settings& settings, RunNotes& notes) {
  const double rate = settings.midi.rate;
  InfoCollector collected(rate, settings.midi.grid);
  // The bytes go once read: info keeps a summary per take, and the notes of the take being read
  // for its grid.
  const ReadTotals totals = readChecked(file, readWholeFile(file, "recording"), collected);
  const auto length = [&](uint64_t ticks) {
    return minutesAndSeconds(ticks, rate) + " (" + plural(ticks, "tick") + ")";
  };
  uint64_t total = 0;
  std::cout << "file:     " << file << '\n'
            << "records:  " << totals.records << '\n'
            << "takes:    " << collected.takes.size() << '\n';
  for (size_t r = 0; r < collected.takes.size(); ++r) {
    const InfoCollector::Summary& s = collected.takes[r];
    total += s.duration;
    std::cout << "  take " << r + 1 << ": " << length(s.duration) << ", "
              << plural(s.messages, "message") << ", records " << s.first << "-" << s.last << '\n'
              << "    grid: " << describe(s.grid, settings.midi.grid.plain) << '\n';
  }
  std::cout << "length:   " << length(total) << " in all\n";
  const std::string damage = damageSummary(totals);
  std::cout << "skipped:  " << (damage.empty() ? "nothing" : damage) << '\n';
  if (collected.restruck > 0)
    std::cout << "restruck: " << plural(collected.restruck, "note")
              << " struck again while sounding, each ended there\n";
  std::cout << "warnings: " << collected.warnings.count() << '\n';
  collected.warnings.print(std::cout, "  ");
  notes.sayRate(std::cerr);
}

} // namespace quorb
