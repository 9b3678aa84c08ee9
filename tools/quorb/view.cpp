#include "commands.h"

#include <iostream>
#include <sstream>

#include "failures.h"
#include "files.h"
#include "numbers.h"
#include "output.h"
#include "piano_roll.h"

namespace quorb {

void view(const std::string& in, const std::string& named, const Settings& settings,
          RunNotes& notes) {
  const Destination to = pictureDestination(in, named);
  ViewOptions options;
  options.rate = settings.midi.rate;
  options.title = textOf(pathOf(in).filename());
  options.grid = settings.midi.grid;
  PianoRoll roll(options);
  const ReadTotals totals = readChecked(in, readWholeFile(in, "recording"), roll);
  if (totals.channelMessages == 0) throw FileError(in + ": holds no messages: nothing written");
  std::ostringstream page;
  roll.write(page);
  writeText(to, page.str());

  std::ostream& report = to.direct ? std::cerr : std::cout;
  notes.sayRate(report);
  const ViewSummary& drawn = roll.summary();
  report << "quorb: " << wrote(to) << ": " << plural(drawn.takes, "take") << ", "
         << plural(drawn.notes, "note") << "; open it in a web browser\n";
  const std::string damage = damageSummary(totals);
  if (!damage.empty()) std::cerr << "quorb: warning: " << damage << " (marked in red)\n";
}

} // namespace quorb
