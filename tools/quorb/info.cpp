#include "commands.h"

#include <algorithm>
#include <iostream>

#include "files.h"
#include "message.h"
#include "numbers.h"

namespace quorb {
namespace {

// Per take: where it lies, how many messages, how long.
class InfoCollector : public RecordingSink {
public:
  struct Summary {
    uint64_t first = 0, last = 0, messages = 0, duration = 0;
  };
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
  }
  void warning(const RecordingWarning& warning) override { warnings.add(warning); }

private:
  HeldNotes held_;
};

} // namespace

void info(const std::string& file, const Settings& settings, RunNotes& notes) {
  const double rate = settings.midi.rate;
  InfoCollector collected;
  // The bytes go once read: info keeps a summary per take and nothing per record.
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
              << plural(s.messages, "message") << ", records " << s.first << "-" << s.last << '\n';
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
