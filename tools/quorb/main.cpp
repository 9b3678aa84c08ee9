// quorb: reads .quorb recording files for people: dump, info, and conversion to MIDI files.
// Given files and no command, it converts each file to a MIDI file beside it (what a file
// dropped on the program in Explorer asks for).
// Exit codes: 0 done (warnings included), 1 a file could not be read or written, 2 bad arguments.

#include "message_text.h"
#include "piano_roll.h"
#include "quorb_version.h"
#include "recording.h"
#include "smf.h"
#include "to_midi.h"
#include "tool_support.h"

#include <CLI/CLI.hpp>

#include <array>
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using namespace quorb;

constexpr double DEFAULT_RATE = 44100;
constexpr size_t WARNINGS_SHOWN_PER_KIND = 10;

const char* const RATE_HELP = "clock ticks per second of the host's clock (the sample rate)";

double rateOf(const std::string& text) { return parseNumber("--rate", text, 1e-6, 1e12); }

std::string seconds(uint64_t ticks, double rate) {
  char text[48];
  std::snprintf(text, sizeof text, "%.6f", double(ticks) / rate);
  return text;
}

// Keeps the first warnings of each kind and counts the rest, however many a damaged file gives.
class WarningLog {
public:
  void add(const RecordingWarning& warning) {
    Kind& kind = kinds_[size_t(warning.kind)];
    if (kind.count++ < WARNINGS_SHOWN_PER_KIND) kind.shown.push_back(warning.text);
  }
  uint64_t count() const {
    uint64_t all = 0;
    for (const Kind& kind : kinds_)
      all += kind.count;
    return all;
  }
  void print(std::ostream& out, const std::string& prefix) const {
    for (const Kind& kind : kinds_) {
      for (const std::string& text : kind.shown)
        out << prefix << text << '\n';
      if (kind.count > kind.shown.size())
        out << prefix << "... and " << plural(kind.count - kind.shown.size(), "more warning")
            << " like the one above\n";
    }
  }

private:
  struct Kind {
    uint64_t count = 0;
    std::vector<std::string> shown;
  };
  std::array<Kind, 3> kinds_;
};

// A sink that only keeps the warnings: a first pass that checks a file before any output.
struct WarningSink : RecordingSink {
  WarningLog warnings;
  void event(const RecordedEvent&) override {}
  void warning(const RecordingWarning& warning) override { warnings.add(warning); }
};

std::string damageSummary(const ReadTotals& totals) {
  std::string text;
  if (totals.skippedBytes > 0)
    text += plural(totals.skippedBytes, "damaged byte") + " skipped in " +
            plural(totals.damagedPlaces, "place");
  return text;
}

// Reads a recording's bytes into `sink`; what is not a recording is file trouble, named by path.
ReadTotals readChecked(const std::string& path, const std::vector<uint8_t>& bytes,
                       RecordingSink& sink) {
  try {
    const ReadTotals totals = readRecording(bytes.data(), bytes.size(), sink);
    requireRecording(totals);
    return totals;
  } catch (const RecordingError& error) {
    throw FileError(path + ": " + error.what());
  }
}

class DumpPrinter : public RecordingSink {
public:
  explicit DumpPrinter(double rate) : rate_(rate) {}
  ~DumpPrinter() override { flush(); }

  void beginRecording(uint64_t number) override {
    number_ = number;
    announced_ = false;
  }
  void event(const RecordedEvent& event) override {
    char line[160];
    if (!announced_) {
      std::snprintf(line, sizeof line, "--- recording %" PRIu64 " begins at record %" PRIu64 "\n",
                    number_, event.index);
      buffer_ += line;
      announced_ = true;
    }
    std::snprintf(line, sizeof line, "%8" PRIu64 " %12" PRIu64 " ", event.index, event.ticks);
    buffer_ += line;
    if (rate_ > 0) {
      std::snprintf(line, sizeof line, "%14s s ", seconds(event.ticks, rate_).c_str());
      buffer_ += line;
    }
    std::snprintf(line, sizeof line, " 0x%08X  ", unsigned(event.message));
    buffer_ += line;
    buffer_ += describeMessage(event.message);
    if (event.ahead) buffer_ += "  [stamped as a pause ended]";
    buffer_ += '\n';
    if (buffer_.size() >= 1 << 16) flush();
  }
  void flush() {
    std::cout << buffer_;
    buffer_.clear();
  }

private:
  double rate_; // 0: no seconds column
  uint64_t number_ = 0;
  bool announced_ = false;
  std::string buffer_; // lines go out in blocks; the dump is never held whole
};

// The rate given, or 0 for none: times are then shown in ticks only.
double optionalRate(const std::optional<std::string>& text) { return text ? rateOf(*text) : 0; }

void dump(const std::string& path, const std::optional<std::string>& rateText) {
  const double rate = optionalRate(rateText);
  const std::vector<uint8_t> bytes = readWholeFile(path, "recording");
  WarningSink check;
  const ReadTotals totals = readChecked(path, bytes, check);
  if (totals.recordings == 0)
    std::cout << "(no records)\n";
  else
    std::cout << "  record        ticks " << (rate > 0 ? "       seconds   " : "")
              << " word        message\n";
  {
    DumpPrinter printer(rate);
    readRecording(bytes.data(), bytes.size(), printer);
  }
  std::cout.flush();
  check.warnings.print(std::cerr, "quorb: warning: ");
}

// Per recording: where it lies, how many messages, how long.
class InfoCollector : public RecordingSink {
public:
  struct Summary {
    uint64_t first = 0, last = 0, messages = 0, duration = 0;
  };
  std::vector<Summary> recordings;
  WarningLog warnings;

  void beginRecording(uint64_t) override { recordings.emplace_back(); }
  void event(const RecordedEvent& event) override {
    Summary& s = recordings.back();
    if (s.messages++ == 0) s.first = event.index;
    s.last = event.index;
    s.duration = std::max(s.duration, event.ticks);
  }
  void warning(const RecordingWarning& warning) override { warnings.add(warning); }
};

void info(const std::string& path, const std::optional<std::string>& rateText) {
  const double rate = optionalRate(rateText);
  InfoCollector collected;
  // The bytes go once read: info keeps a summary per recording and nothing per record.
  const ReadTotals totals = readChecked(path, readWholeFile(path, "recording"), collected);
  const auto duration = [&](uint64_t ticks) {
    std::string text = plural(ticks, "tick");
    if (rate > 0) text += " (" + seconds(ticks, rate) + " s)";
    return text;
  };
  uint64_t total = 0;
  std::cout << "file:       " << path << '\n'
            << "records:    " << totals.records << '\n'
            << "recordings: " << collected.recordings.size() << '\n';
  for (size_t r = 0; r < collected.recordings.size(); ++r) {
    const InfoCollector::Summary& s = collected.recordings[r];
    total += s.duration;
    std::cout << "  " << r + 1 << ": records " << s.first << "-" << s.last << ", "
              << plural(s.messages, "message") << ", " << duration(s.duration) << '\n';
  }
  std::cout << "duration:   " << duration(total) << " in all\n";
  const std::string damage = damageSummary(totals);
  std::cout << "skipped:    " << (damage.empty() ? "nothing" : damage) << '\n'
            << "warnings:   " << collected.warnings.count() << '\n';
  collected.warnings.print(std::cout, "  ");
}

struct ConvertSettings {
  std::optional<std::string> rate;
  std::string ppq = "960";
  std::string bpm = "120";
  std::optional<std::string> recording;
  bool split = false;
};

const std::string STDOUT_NAME = "-";

// Refuses, before any work, an output that would destroy something: the input itself, or an
// existing file that is not a MIDI file (a recording, most likely). True when the output is not
// a regular file (standard output, a device, a pipe): written straight, with no report mixed in.
bool checkOutput(const std::string& out, const std::string& in) {
  if (out == STDOUT_NAME) return true;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(pathOf(out), error);
  if (!std::filesystem::exists(status)) return false;
  if (sameFile(out, in))
    throw UsageError(out + " is the recording being converted: it is not overwritten");
  if (std::filesystem::is_directory(status)) throw FileError(out + ": a folder, not a file");
  if (!std::filesystem::is_regular_file(status)) return true;
  if (std::filesystem::file_size(pathOf(out), error) > 0 && !fileStartsWith(out, "MThd"))
    throw UsageError(out + " exists and is not a MIDI file (a recording?): it is not "
                           "overwritten; remove it or choose another name");
  return false;
}

void writeMidi(const std::string& out, bool direct, int format, uint16_t ppq,
               const std::vector<const MidiConverter::Track*>& tracks) {
  const auto emit = [&](const auto& write) {
    const std::vector<uint8_t> header = smfHeader(format, tracks.size(), ppq);
    write(header.data(), header.size());
    for (const MidiConverter::Track* track : tracks) {
      const std::vector<uint8_t> chunk = trackChunkHeader(track->data.size());
      write(chunk.data(), chunk.size());
      write(track->data.data(), track->data.size());
    }
  };
  if (!direct) {
    AtomicFile file(out);
    emit([&](const uint8_t* data, size_t size) { file.write(data, size); });
    file.commit();
    return;
  }
  std::FILE* file = stdout;
  if (out == STDOUT_NAME) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
  } else {
    file = std::fopen(out.c_str(), "wb");
    if (file == nullptr) throw FileError("cannot write " + out);
  }
  bool ok = true;
  emit([&](const uint8_t* data, size_t size) {
    ok = ok && std::fwrite(data, 1, size, file) == size;
  });
  ok = std::fflush(file) == 0 && ok;
  if (file != stdout) ok = std::fclose(file) == 0 && ok;
  if (!ok) throw FileError("cannot write " + out);
}

// FILE-1.mid, FILE-2.mid, ... from the output name FILE.mid.
std::string splitName(const std::string& out, uint64_t number) {
  std::filesystem::path path = pathOf(out);
  const std::string extension = textOf(path.extension());
  path.replace_extension();
  return textOf(path) + "-" + std::to_string(number) + (extension.empty() ? ".mid" : extension);
}

void convert(const std::string& in, std::string out, const ConvertSettings& settings) {
  if (out.empty()) out = textOf(pathOf(in).replace_extension(".mid"));
  MidiOptions options;
  options.rate = settings.rate ? rateOf(*settings.rate) : DEFAULT_RATE;
  options.ppq = uint16_t(parseInteger("--ppq", settings.ppq, 1, 32767));
  options.bpm = parseNumber("--bpm", settings.bpm, 1e-3, 60e6); // the tempo decides the rest
  const uint64_t only =
      settings.recording ? uint64_t(parseInteger("--recording", *settings.recording, 1, INT64_MAX))
                         : 0;
  if (settings.split && out == STDOUT_NAME)
    throw UsageError("--split writes files: give a file name, not -");

  const std::vector<uint8_t> bytes = readWholeFile(in, "recording");
  // With --split, OUT only names the files written; it is not written itself.
  const bool toStream = !settings.split && checkOutput(out, in);
  std::ostream& report = toStream ? std::cerr : std::cout;
  if (!settings.rate)
    report << "quorb: no --rate given: " << DEFAULT_RATE
           << " clock ticks per second assumed (the host running at 44.1 kHz)\n";

  // The converter as the reading's sink, keeping its warnings besides.
  struct Converter : MidiConverter {
    using MidiConverter::MidiConverter;
    WarningLog warnings;
    void warning(const RecordingWarning& warning) override { warnings.add(warning); }
  } converter(options, only, settings.split);
  const ReadTotals totals = readChecked(in, bytes, converter);
  if (only > totals.recordings)
    throw UsageError("--recording " + std::to_string(only) + " is out of range: " + in + " holds " +
                     plural(totals.recordings, "recording"));
  if (converter.tracks.empty()) converter.addEmptyTrack(1);

  // Every output is checked before the first is written.
  struct Output {
    std::string name;
    bool direct;
    std::vector<const MidiConverter::Track*> tracks;
  };
  std::vector<Output> outputs;
  if (settings.split) {
    for (const MidiConverter::Track& track : converter.tracks) {
      const std::string name = splitName(out, track.number);
      outputs.push_back({name, checkOutput(name, in), {&track}});
    }
  } else {
    outputs.push_back({out, toStream, {}});
    for (const MidiConverter::Track& track : converter.tracks)
      outputs.back().tracks.push_back(&track);
  }
  for (const Output& output : outputs) {
    const int format = output.tracks.size() > 1 ? 1 : 0;
    writeMidi(output.name, output.direct, format, options.ppq, output.tracks);
    report << "quorb: wrote " << (output.name == STDOUT_NAME ? "standard output" : output.name)
           << ": format " << format << ", " << plural(output.tracks.size(), "track") << '\n';
  }
  if (converter.closedNotes > 0)
    report << "quorb: " << plural(converter.closedNotes, "note")
           << " still held at the end of a recording closed there\n";
  if (!settings.split && converter.tracks.size() > 1)
    report << "quorb: the " << converter.tracks.size()
           << " recordings are tracks of one file and play at the same time; --split writes a "
              "file per recording\n";
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

// The piano roll of every take as an SVG picture; OUT defaults to FILE with .svg.
void view(const std::string& in, std::string out, const std::optional<std::string>& rateText) {
  if (out.empty()) out = textOf(pathOf(in).replace_extension(".svg"));
  ViewOptions options;
  options.rate = rateText ? rateOf(*rateText) : DEFAULT_RATE;
  options.title = textOf(pathOf(in).filename());
  const std::vector<uint8_t> bytes = readWholeFile(in, "recording");
  if (sameFile(out, in))
    throw UsageError(out + " is the recording being drawn: it is not overwritten");
  std::error_code error;
  if (std::filesystem::file_size(pathOf(out), error) > 0 && !error &&
      !fileStartsWith(out, "<?xml") && !fileStartsWith(out, "<svg"))
    throw UsageError(out + " exists and is not an SVG picture: it is not overwritten; remove it "
                           "or choose another name");
  PianoRoll roll(options);
  const ReadTotals totals = readChecked(in, bytes, roll);
  if (!rateText)
    std::cout << "quorb: no --rate given: " << DEFAULT_RATE
              << " clock ticks per second assumed (the host running at 44.1 kHz)\n";
  std::ostringstream svg;
  roll.write(svg);
  const std::string picture = svg.str();
  AtomicFile file(out);
  file.write(reinterpret_cast<const uint8_t*>(picture.data()), picture.size());
  file.commit();
  const ViewSummary& drawn = roll.summary();
  std::cout << "quorb: wrote " << out << ": " << plural(drawn.takes, "take") << ", "
            << plural(drawn.notes, "note") << "; open it in a web browser\n";
  const std::string damage = damageSummary(totals);
  if (!damage.empty()) std::cerr << "quorb: warning: " << damage << " (marked in red)\n";
}

// A first argument that names no file and looks like no file name is a mistyped command.
void refuseUnknownCommand(const std::string& first) {
  std::error_code error;
  if (std::filesystem::exists(pathOf(first), error)) return;
  if (first.find_first_of("./\\:") != std::string::npos) return;
  throw UsageError("unknown command \"" + first +
                   "\": the commands are dump, info, tomidi and view, or give .quorb files to "
                   "convert them");
}

int run(int argc, char** argv) {
  CLI::App app{"quorb " QUORB_VERSION
               ": shows and converts .quorb files written by the QUORB_REC_M recorder module.\n"
               "  quorb FILE.quorb...   converts each file to FILE.mid beside it (also what "
               "dropping files on quorb does)\n"
               "Times are in the host's clock ticks; --rate gives ticks per second (default "
               "44100)."};
  app.name("quorb");
  app.set_version_flag("--version", "quorb " QUORB_VERSION);
  // On Windows CLI11 would read "/path/take.quorb" as an option; paths come first here.
  app.allow_windows_style_options(false);

  std::string file;
  std::string out;
  std::optional<std::string> rate;
  std::vector<std::string> dropped;
  ConvertSettings settings;

  app.add_option("FILES", dropped, "recordings to convert, each to a .mid beside it")
      ->type_name("");
  app.add_option("--rate", rate, RATE_HELP)->type_name("TICKS");
  app.add_option("--ppq", settings.ppq, "ticks per quarter note in the MIDI file")
      ->type_name("N")
      ->capture_default_str();
  app.add_option("--bpm", settings.bpm, "tempo written to the MIDI file")
      ->type_name("BPM")
      ->capture_default_str();
  app.add_flag("--split", settings.split, "a MIDI file per recording: FILE-1.mid, FILE-2.mid...");

  CLI::App* dumpCommand = app.add_subcommand("dump", "one line per record, by recording");
  dumpCommand->add_option("FILE", file, "the .quorb file")->required();
  dumpCommand->add_option("--rate", rate, RATE_HELP + std::string(": also show seconds"))
      ->type_name("TICKS");

  CLI::App* infoCommand = app.add_subcommand("info", "counts, recordings, durations, warnings");
  infoCommand->add_option("FILE", file, "the .quorb file")->required();
  infoCommand->add_option("--rate", rate, RATE_HELP + std::string(": also show seconds"))
      ->type_name("TICKS");

  CLI::App* midiCommand = app.add_subcommand(
      "tomidi", "write a Standard MIDI File: format 0 for one recording, else format 1 with a "
                "track per recording");
  midiCommand->add_option("FILE", file, "the .quorb file")->required();
  midiCommand->add_option("OUT", out,
                          "the .mid file to write (default: FILE with .mid; - for "
                          "standard output)");
  midiCommand->add_option("--rate", rate, RATE_HELP + std::string(" (default 44100)"))
      ->type_name("TICKS");
  midiCommand->add_option("--ppq", settings.ppq, "ticks per quarter note")
      ->type_name("N")
      ->capture_default_str();
  midiCommand->add_option("--bpm", settings.bpm, "tempo written to the file")
      ->type_name("BPM")
      ->capture_default_str();
  midiCommand
      ->add_option("--recording", settings.recording,
                   "write only this recording (from 1) as format 0")
      ->type_name("N");
  midiCommand->add_flag("--split", settings.split,
                        "a format 0 file per recording: OUT-1.mid, OUT-2.mid...");
  CLI::App* viewCommand = app.add_subcommand(
      "view", "draw every take as a piano roll in an SVG picture (open it in a web browser)");
  viewCommand->add_option("FILE", file, "the .quorb file")->required();
  viewCommand->add_option("OUT", out, "the .svg file to write (default: FILE with .svg)");
  viewCommand->add_option("--rate", rate, RATE_HELP + std::string(" (default 44100)"))
      ->type_name("TICKS");
  // Set last: subcommands copy the footer when they are made, and the rule belongs here once.
  app.footer(std::string("Recordings in one file:\n") + RECORDING_BOUNDARY_RULE + "Damage:\n" +
             DAMAGE_RULE + "Exit codes: 0 done, 1 file trouble, 2 bad arguments.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help and version end with 0; every command-line mistake with the bad-arguments code.
    return app.exit(error) == 0 ? EXIT_DONE : EXIT_BAD_ARGUMENTS;
  }

  const auto attempt = [](const auto& work) {
    try {
      work();
      return int(EXIT_DONE);
    } catch (const UsageError& error) {
      std::cerr << "quorb: " << error.what() << '\n';
      return int(EXIT_BAD_ARGUMENTS);
    } catch (const std::invalid_argument& error) {
      std::cerr << "quorb: " << error.what() << '\n';
      return int(EXIT_BAD_ARGUMENTS);
    } catch (const std::bad_alloc&) {
      std::cerr << "quorb: not enough memory\n";
      return int(EXIT_FILE_TROUBLE);
    } catch (const std::exception& error) {
      std::cerr << "quorb: " << error.what() << '\n';
      return int(EXIT_FILE_TROUBLE);
    }
  };
  settings.rate = rate;
  if (*dumpCommand) return attempt([&] { dump(file, rate); });
  if (*infoCommand) return attempt([&] { info(file, rate); });
  if (*midiCommand) return attempt([&] { convert(file, out, settings); });
  if (*viewCommand) return attempt([&] { view(file, out, rate); });
  if (dropped.empty()) {
    std::cout << app.help();
    std::cerr << "quorb: give .quorb files to convert, or a command\n";
    return EXIT_BAD_ARGUMENTS;
  }
  int code = attempt([&] { refuseUnknownCommand(dropped.front()); });
  if (code != EXIT_DONE) return code;
  // Each file on its own: one that fails does not stop the others.
  for (const std::string& recording : dropped)
    code = std::max(code, attempt([&] { convert(recording, "", settings); }));
  return code;
}

} // namespace

int main(int argc, char** argv) {
  setUpConsole();
  const int code = run(argc, argv);
  std::cout.flush();
  holdConsoleIfOwn();
  return code;
}
