#include "commands.h"

#include <iostream>

#include "failures.h"
#include "files.h"
#include "numbers.h"
#include "output.h"

namespace quorb {

void convert(const std::string& in, const std::string& named, const Settings& settings,
             RunNotes& notes) {
  checkNamedOutput(in, named, settings.split);
  const std::vector<uint8_t> bytes = readWholeFile(in, "recording");
  // The converter as the reading's sink, keeping its warnings besides.
  struct Converter : MidiConverter {
    using MidiConverter::MidiConverter;
    WarningLog warnings;
    void warning(const RecordingWarning& warning) override { warnings.add(warning); }
  } converter(settings.midi, settings.take, settings.split);
  const ReadTotals totals = readChecked(in, bytes, converter);
  if (totals.channelMessages == 0) throw FileError(in + ": holds no messages: nothing written");
  if (settings.take > totals.takes)
    throw UsageError("--take " + std::to_string(settings.take) + ": " + in + " holds " +
                     plural(totals.takes, "take") + "; give a take from 1 to " +
                     std::to_string(totals.takes) + ", e.g. --take 1");
  if (converter.tracks.empty()) converter.addEmptyTrack(1);

  // Every output is named and checked before the first is written.
  const std::vector<Output> outputs = planOutputs(in, named, settings.split, converter.tracks);
  std::ostream& report = outputs.front().direct ? std::cerr : std::cout;
  notes.sayRate(report);
  for (const Output& output : outputs) {
    writeOutput(output, output.tracks.front()->ppq);
    report << "quorb: " << wrote(output) << ": format " << formatFor(output.tracks.size()) << ", "
           << plural(output.tracks.size(), "track") << '\n';
  }
  for (const MidiConverter::TakeGridNote& grid : converter.grids)
    report << "quorb: take " << grid.take << ": " << describe(grid.summary, false) << '\n';
  if (!settings.split && converter.tracks.size() > 1 && !converter.grids.empty())
    report << "quorb: the file's tempo map and bar lines follow take " << converter.grids[0].take
           << "; --split gives each take its own\n";
  if (converter.closedNotes > 0)
    report << "quorb: " << plural(converter.closedNotes, "note")
           << " still held at the end of a take closed there\n";
  if (!settings.split && converter.tracks.size() > 1)
    report << "quorb: the " << converter.tracks.size()
           << " takes are tracks of one file and play at the same time; --split writes a file "
              "per take\n";
  converter.warnings.print(std::cerr, "quorb: warning: ");
  const std::string damage = damageSummary(totals);
  if (!damage.empty()) std::cerr << "quorb: warning: " << damage << '\n';
  if (converter.skippedRecords > 0)
    std::cerr << "quorb: warning: " << plural(converter.skippedRecords, "record is", "records are")
              << " not a MIDI channel message and left out\n";
  if (converter.fillerEvents > 0)
    std::cerr << "quorb: note: gaps longer than a MIDI delta time are carried by "
              << plural(converter.fillerEvents, "empty text event") << '\n';
}

} // namespace quorb
