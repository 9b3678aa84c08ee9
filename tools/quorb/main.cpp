// quorb: reads .quorb recording files for people: dump, info, and conversion to a MIDI file.
// Exit codes: 0 done (warnings included), 1 a file could not be read or written, 2 bad arguments.

#include "message_text.h"
#include "recording.h"
#include "smf.h"
#include "to_midi.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

namespace {

using namespace quorb;

// Bad input found after CLI11 accepted the command line.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr size_t WARNINGS_SHOWN_PER_KIND = 10;

void checkRate(const std::optional<double>& rate) {
  if (rate && !(*rate > 0 && std::isfinite(*rate)))
    throw UsageError("--rate must be a positive number of clock ticks per second");
}

std::string seconds(uint64_t ticks, double rate) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(6) << double(ticks) / rate;
  return text.str();
}

std::string hexWord(uint32_t word) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", unsigned(word));
  return text;
}

// Prints each warning, at most WARNINGS_SHOWN_PER_KIND of a kind, then how many more there were.
void printWarnings(std::ostream& out, const std::string& prefix,
                   const std::vector<RecordingWarning>& warnings) {
  std::map<RecordingWarning::Kind, size_t> seen;
  for (const RecordingWarning& warning : warnings)
    if (++seen[warning.kind] <= WARNINGS_SHOWN_PER_KIND) out << prefix << warning.text << '\n';
  for (const auto& [kind, count] : seen)
    if (count > WARNINGS_SHOWN_PER_KIND)
      out << prefix << "... and " << count - WARNINGS_SHOWN_PER_KIND
          << " more warnings like the one above\n";
}

void dump(const std::string& path, const std::optional<double>& rate) {
  checkRate(rate);
  const RecordingFile file = readRecordingFile(path);
  if (file.recordings.empty())
    std::cout << "(no records)\n";
  else
    std::cout << "  record        ticks " << (rate ? "       seconds   " : "")
              << " word        message\n";
  for (size_t r = 0; r < file.recordings.size(); ++r) {
    const Recording& recording = file.recordings[r];
    std::cout << "--- recording " << r + 1 << " begins at record " << recording.events.front().index
              << '\n';
    for (const RecordedEvent& event : recording.events) {
      std::cout << std::setw(8) << event.index << ' ' << std::setw(12) << event.ticks << ' ';
      if (rate) std::cout << std::setw(14) << seconds(event.ticks, *rate) << " s ";
      std::cout << ' ' << hexWord(event.message) << "  " << describeMessage(event.message);
      if (event.ahead) std::cout << "  [stamped as a pause ended]";
      std::cout << '\n';
    }
  }
  printWarnings(std::cerr, "quorb: warning: ", file.warnings);
}

void info(const std::string& path, const std::optional<double>& rate) {
  checkRate(rate);
  const RecordingFile file = readRecordingFile(path);
  const auto duration = [&](uint64_t ticks) {
    std::string text = std::to_string(ticks) + " ticks";
    if (rate) text += " (" + seconds(ticks, *rate) + " s)";
    return text;
  };
  uint64_t total = 0;
  std::cout << "file:       " << path << '\n'
            << "records:    " << file.recordCount << '\n'
            << "recordings: " << file.recordings.size() << '\n';
  for (size_t r = 0; r < file.recordings.size(); ++r) {
    const Recording& recording = file.recordings[r];
    total += recording.durationTicks();
    std::cout << "  " << r + 1 << ": records " << recording.events.front().index << "-"
              << recording.events.back().index << ", " << recording.events.size() << " messages, "
              << duration(recording.durationTicks()) << '\n';
  }
  std::cout << "duration:   " << duration(total) << " in all\n"
            << "warnings:   " << file.warnings.size() << '\n';
  printWarnings(std::cout, "  ", file.warnings);
}

void toMidiFile(const std::string& path, const std::string& out, double rate, int ppq, double bpm,
                const std::optional<int>& recordingNumber) {
  checkRate(rate);
  const RecordingFile file = readRecordingFile(path);
  MidiOptions options;
  options.rate = rate;
  options.ppq = uint16_t(ppq);
  options.bpm = bpm;
  std::vector<Recording> chosen = file.recordings;
  size_t firstNumber = 1;
  if (recordingNumber) {
    const size_t count = file.recordings.size();
    if (*recordingNumber < 1 || size_t(*recordingNumber) > count)
      throw UsageError("--recording " + std::to_string(*recordingNumber) +
                       " is out of range: " + path + " holds " + std::to_string(count) +
                       " recording" + (count == 1 ? "" : "s"));
    firstNumber = size_t(*recordingNumber);
    chosen = {file.recordings[firstNumber - 1]};
  }
  MidiConversion midi;
  try {
    midi = toMidi(chosen, options, firstNumber);
  } catch (const std::invalid_argument& error) {
    throw UsageError(error.what());
  }
  writeSmf(out, midi.format, options.ppq, midi.tracks);
  printWarnings(std::cerr, "quorb: warning: ", file.warnings);
  if (midi.skippedRecords > 0)
    std::cerr << "quorb: warning: " << midi.skippedRecords
              << " records are not MIDI channel messages and were left out\n";
  std::cout << "wrote " << out << ": format " << midi.format << ", " << midi.tracks.size()
            << " track" << (midi.tracks.size() == 1 ? "" : "s");
  if (midi.closedNotes > 0) std::cout << ", " << midi.closedNotes << " held notes closed";
  std::cout << '\n';
}

} // namespace

int main(int argc, char** argv) {
  CLI::App app{"quorb: shows and converts .quorb files written by the QUORB_REC_M recorder "
               "module.\nTimes are in the host's clock ticks; --rate gives ticks per second."};
  app.footer(std::string("Recordings in one file:\n") + RECORDING_BOUNDARY_RULE);
  app.require_subcommand(1, 1);
  // On Windows CLI11 would read "/path/take.quorb" as an option; paths come first here.
  app.allow_windows_style_options(false);

  std::string file;
  std::string out;
  std::optional<double> rate;
  double tomidiRate = 0;
  int ppq = 960;
  double bpm = 120;
  std::optional<int> recordingNumber;

  CLI::App* dumpCommand = app.add_subcommand("dump", "one line per record, by recording");
  dumpCommand->add_option("FILE", file, "the .quorb file")->required();
  dumpCommand->add_option("--rate", rate, "clock ticks per second: also show seconds");

  CLI::App* infoCommand = app.add_subcommand("info", "counts, recordings, durations, warnings");
  infoCommand->add_option("FILE", file, "the .quorb file")->required();
  infoCommand->add_option("--rate", rate, "clock ticks per second: also show seconds");

  CLI::App* midiCommand = app.add_subcommand(
      "tomidi", "write a Standard MIDI File: format 0 for one recording, else format 1 with a "
                "track per recording");
  midiCommand->add_option("FILE", file, "the .quorb file")->required();
  midiCommand->add_option("OUT", out, "the .mid file to write")->required();
  midiCommand->add_option("--rate", tomidiRate, "clock ticks per second")->required();
  midiCommand->add_option("--ppq", ppq, "ticks per quarter note")
      ->capture_default_str()
      ->check(CLI::Range(1, 32767));
  midiCommand->add_option("--bpm", bpm, "tempo written to the file")->capture_default_str();
  midiCommand->add_option("--recording", recordingNumber,
                          "write only this recording (from 1) as format 0");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help ends with 0; every command-line mistake with the same code as other bad arguments.
    return app.exit(error) == 0 ? 0 : 2;
  }

  try {
    if (*dumpCommand) dump(file, rate);
    if (*infoCommand) info(file, rate);
    if (*midiCommand) toMidiFile(file, out, tomidiRate, ppq, bpm, recordingNumber);
  } catch (const UsageError& error) {
    std::cerr << "quorb: " << error.what() << '\n';
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "quorb: " << error.what() << '\n';
    return 1;
  }
  return 0;
}
