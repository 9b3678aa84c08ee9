// quorb: reads .quorb recording files for people: dump, info, and conversion to MIDI files.
// Given files and no command, it converts each file to a MIDI file beside it (what a file
// dropped on the program in Explorer asks for), never replacing a file the user did not name.
// Exit codes: 0 done (warnings included), 1 a file could not be read or written, 2 bad arguments.

#include "message_text.h"
#include "quorb_version.h"
#include "recording.h"
#include "smf.h"
#include "to_midi.h"
#include "tool_support.h"

#include <CLI/CLI.hpp>

#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
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

const char* const RATE_HELP = "the host's clock ticks per second (its sample rate; default 44100)";

std::string seconds(uint64_t ticks, double rate) {
  char text[48];
  std::snprintf(text, sizeof text, "%.6f", double(ticks) / rate);
  return text;
}

// "1:05.250": minutes and seconds, as a player shows a length.
std::string minutesAndSeconds(uint64_t ticks, double rate) {
  const double total = double(ticks) / rate;
  const double minutes = std::floor(total / 60);
  char text[64];
  std::snprintf(text, sizeof text, "%.0f:%06.3f", minutes, total - minutes * 60);
  return text;
}

// What the run assumed, said once however many files it handles.
struct RunNotes {
  bool rateGiven = false;
  bool rateSaid = false;
  void sayRate(std::ostream& out) {
    if (rateGiven || rateSaid) return;
    rateSaid = true;
    out << "quorb: no --rate given: 44100 clock ticks per second assumed (the host at 44.1 "
           "kHz)\n";
  }
};

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
      std::snprintf(line, sizeof line, "--- take %" PRIu64 " begins at record %" PRIu64 "\n",
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
double optionalRate(const std::optional<std::string>& text) {
  return text ? parseRate("--rate", *text) : 0;
}

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

// Per take: where it lies, how many messages, how long.
class InfoCollector : public RecordingSink {
public:
  struct Summary {
    uint64_t first = 0, last = 0, messages = 0, duration = 0;
  };
  std::vector<Summary> takes;
  WarningLog warnings;

  void beginRecording(uint64_t) override { takes.emplace_back(); }
  void event(const RecordedEvent& event) override {
    Summary& s = takes.back();
    if (s.messages++ == 0) s.first = event.index;
    s.last = event.index;
    s.duration = std::max(s.duration, event.ticks);
  }
  void warning(const RecordingWarning& warning) override { warnings.add(warning); }
};

void info(const std::string& path, const std::optional<std::string>& rateText, RunNotes& notes) {
  const double rate = rateText ? parseRate("--rate", *rateText) : DEFAULT_RATE;
  InfoCollector collected;
  // The bytes go once read: info keeps a summary per take and nothing per record.
  const ReadTotals totals = readChecked(path, readWholeFile(path, "recording"), collected);
  const auto length = [&](uint64_t ticks) {
    return minutesAndSeconds(ticks, rate) + " (" + plural(ticks, "tick") + ")";
  };
  uint64_t total = 0;
  std::cout << "file:     " << path << '\n'
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
  std::cout << "skipped:  " << (damage.empty() ? "nothing" : damage) << '\n'
            << "warnings: " << collected.warnings.count() << '\n';
  collected.warnings.print(std::cout, "  ");
  notes.sayRate(std::cerr);
}

struct ConvertSettings {
  std::optional<std::string> rate;
  std::string ppq = "960";
  std::string bpm = "120";
  std::optional<std::string> take;
  bool split = false;
};

const std::string STDOUT_NAME = "-";

// Refuses, before any work, an output the user named that would destroy something: the input
// itself, or an existing file that is not a MIDI file (a recording, most likely). True when the
// output is not a regular file (standard output, a device, a pipe): written straight, with no
// report mixed in.
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

void writeMidi(const std::string& out, bool direct, bool replace, int format, uint16_t ppq,
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
    AtomicFile file(out, replace);
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

// `named` is the OUT the user gave, empty for none: then FILE.mid beside FILE, or the next free
// name when that is taken, as for every --split name. Only a named OUT replaces a file.
void convert(const std::string& in, const std::string& named, const ConvertSettings& settings,
             RunNotes& notes) {
  MidiOptions options;
  options.rate = settings.rate ? parseRate("--rate", *settings.rate) : DEFAULT_RATE;
  options.ppq = uint16_t(parseInteger("--ppq", settings.ppq, 1, 32767, "960"));
  options.bpm = parseNumber("--bpm", settings.bpm, 1e-3, 60e6, "120"); // the tempo decides
  const uint64_t only =
      settings.take ? uint64_t(parseInteger("--take", *settings.take, 1, INT64_MAX, "2")) : 0;
  if (named == STDOUT_NAME) {
    if (settings.split) throw UsageError("--split writes files: give a file name, not -");
    if (isConsole(stdout))
      throw UsageError("a MIDI file is not written to a console; redirect standard output to a "
                       "file (quorb tomidi " +
                       in + " - > take.mid), or give a file name instead of -");
  }

  const std::vector<uint8_t> bytes = readWholeFile(in, "recording");
  // The converter as the reading's sink, keeping its warnings besides.
  struct Converter : MidiConverter {
    using MidiConverter::MidiConverter;
    WarningLog warnings;
    void warning(const RecordingWarning& warning) override { warnings.add(warning); }
  } converter(options, only, settings.split);
  const ReadTotals totals = readChecked(in, bytes, converter);
  if (totals.channelMessages == 0) throw FileError(in + ": holds no messages: nothing written");
  if (only > totals.recordings)
    throw UsageError("--take " + std::to_string(only) + ": " + in + " holds " +
                     plural(totals.recordings, "take") + "; give a take from 1 to " +
                     std::to_string(totals.recordings) + ", e.g. --take 1");
  if (converter.tracks.empty()) converter.addEmptyTrack(1);

  // Every output is named and checked before the first is written.
  struct Output {
    std::string name;
    std::string wanted; // the name it would have had, had it been free
    bool direct;
    bool replace;
    std::vector<const MidiConverter::Track*> tracks;
  };
  std::vector<Output> outputs;
  const std::string base = named.empty() ? textOf(pathOf(in).replace_extension(".mid")) : named;
  if (settings.split) {
    std::vector<std::string> taken;
    for (const MidiConverter::Track& track : converter.tracks) {
      const std::string wanted = splitName(base, track.number);
      taken.push_back(freeName(wanted, taken));
      outputs.push_back({taken.back(), wanted, false, false, {&track}});
    }
  } else {
    const bool implied = named.empty();
    outputs.push_back(
        {implied ? freeName(base) : named, base, !implied && checkOutput(named, in), !implied, {}});
    for (const MidiConverter::Track& track : converter.tracks)
      outputs.back().tracks.push_back(&track);
  }
  std::ostream& report = outputs.front().direct ? std::cerr : std::cout;
  notes.sayRate(report);
  for (const Output& output : outputs) {
    const int format = output.tracks.size() > 1 ? 1 : 0;
    writeMidi(output.name, output.direct, output.replace, format, options.ppq, output.tracks);
    report << "quorb: wrote " << (output.name == STDOUT_NAME ? "standard output" : output.name);
    if (output.name != output.wanted) report << " (" << output.wanted << " is there already)";
    report << ": format " << format << ", " << plural(output.tracks.size(), "track") << '\n';
  }
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

// A first argument that names no file and looks like no file name is a mistyped command.
void refuseUnknownCommand(const std::string& first) {
  std::error_code error;
  if (std::filesystem::exists(pathOf(first), error)) return;
  if (first.find_first_of("./\\:") != std::string::npos) return;
  throw UsageError("unknown command \"" + first +
                   "\": the commands are dump, info, tomidi and help, or give .quorb files to "
                   "convert them");
}

void helpTopic(const std::string& topic) {
  if (topic != "format" && !topic.empty())
    throw UsageError("no help on \"" + topic + "\": try quorb help format");
  std::cout << "A .quorb file is a row of 8-byte records: the time in the host's clock ticks, "
               "then the MIDI\nmessage, each 4 bytes, little-endian. It has no header.\n\n"
               "Takes in one file:\n"
            << RECORDING_BOUNDARY_RULE << "\nDamage:\n"
            << DAMAGE_RULE << "\nNot a recording: a file that starts like a WAV, MIDI, MP3, "
            << "Ogg, FLAC, PDF, zip or text file\nor a program, and a file with less than "
               "a third of its bytes in records holding a MIDI\nchannel message.\n";
}

// Exit codes for what went wrong: the command line 2, everything else (files) 1.
int attempt(const std::function<void()>& work) {
  try {
    work();
    return EXIT_DONE;
  } catch (const UsageError& error) {
    sayError("quorb", error.what());
    return EXIT_BAD_ARGUMENTS;
  } catch (const std::invalid_argument& error) {
    sayError("quorb", error.what());
    return EXIT_BAD_ARGUMENTS;
  } catch (const std::bad_alloc&) {
    sayError("quorb", "not enough memory");
    return EXIT_FILE_TROUBLE;
  } catch (const std::exception& error) {
    sayError("quorb", error.what());
    return EXIT_FILE_TROUBLE;
  }
}

int run(int argc, char** argv) {
  CLI::App app{"quorb " QUORB_VERSION ": turns .quorb recordings of the QUORB_REC_M module into "
               "MIDI files.\nDrop recordings on quorb to get FILE.mid beside each (FILE (2).mid "
               "when that is taken)."};
  app.name("quorb");
  app.set_version_flag("--version", "quorb " QUORB_VERSION);
  // On Windows CLI11 would read "/path/take.quorb" as an option; paths come first here.
  app.allow_windows_style_options(false);

  std::string file;
  std::string out;
  std::string topic;
  std::optional<std::string> rate;
  std::vector<std::string> dropped;
  ConvertSettings settings;

  app.add_option("FILES", dropped, "recordings to convert, each to a .mid beside it")
      ->type_name("");
  app.add_option("--rate", rate, RATE_HELP)->type_name("TICKS");
  app.add_flag("--split", settings.split, "a MIDI file per take: FILE-1.mid, FILE-2.mid...");

  CLI::App* dumpCommand =
      app.add_subcommand("dump", "a line per record, take by take")->ignore_case();
  dumpCommand->add_option("FILE", file, "the .quorb file")->required();
  dumpCommand->add_option("--rate", rate, RATE_HELP + std::string(": also show seconds"))
      ->type_name("TICKS");

  CLI::App* infoCommand =
      app.add_subcommand("info", "how many takes, how long, any damage")->ignore_case();
  infoCommand->add_option("FILE", file, "the .quorb file")->required();
  infoCommand->add_option("--rate", rate, RATE_HELP)->type_name("TICKS");

  CLI::App* midiCommand =
      app.add_subcommand("tomidi", "write a MIDI file: a track per take, or --split, --take N")
          ->ignore_case();
  midiCommand->add_option("FILE", file, "the .quorb file")->required();
  midiCommand->add_option("OUT", out,
                          "the .mid file to write, replaced if it is one (default: FILE.mid "
                          "beside FILE, or the next free name; - for standard output)");
  midiCommand->add_option("--rate", rate, RATE_HELP)->type_name("TICKS");
  midiCommand->add_option("--ppq", settings.ppq, "ticks per quarter note")
      ->type_name("N")
      ->capture_default_str();
  midiCommand->add_option("--bpm", settings.bpm, "tempo written to the file")
      ->type_name("BPM")
      ->capture_default_str();
  midiCommand->add_option("--take", settings.take, "write only this take (from 1) as format 0")
      ->type_name("N");
  // The option's name before takes were called takes.
  midiCommand->add_option("--recording", settings.take)->group("");
  midiCommand->add_flag("--split", settings.split,
                        "a format 0 file per take: OUT-1.mid, OUT-2.mid...");

  CLI::App* helpCommand =
      app.add_subcommand("help", "quorb help format: the file format and its damage rules")
          ->ignore_case();
  helpCommand->add_option("TOPIC", topic, "format")->type_name("");
  // Set last: subcommands copy the footer when they are made.
  app.footer("Example: quorb tomidi \"My take.quorb\" --rate 48000\n"
             "Exit codes: 0 done, 1 file trouble, 2 bad arguments.");

  // Windows users ask for help with /?.
  std::vector<char*> arguments(argv, argv + argc);
  static char helpFlag[] = "--help";
  for (char*& argument : arguments)
    if (std::strcmp(argument, "/?") == 0) argument = helpFlag;
  try {
    app.parse(int(arguments.size()), arguments.data());
  } catch (const CLI::ParseError& error) {
    // Help and version end with 0; every command-line mistake with the bad-arguments code.
    if (error.get_exit_code() == 0) return app.exit(error);
    sayError("quorb", error.what());
    sayError("quorb", "quorb --help lists the commands and options");
    return EXIT_BAD_ARGUMENTS;
  }

  RunNotes notes;
  notes.rateGiven = rate.has_value();
  settings.rate = rate;
  if (*dumpCommand) return attempt([&] { dump(file, rate); });
  if (*infoCommand) return attempt([&] { info(file, rate, notes); });
  if (*midiCommand) return attempt([&] { convert(file, out, settings, notes); });
  if (*helpCommand) {
    if (topic.empty()) {
      // app.help() would show the help command's own help.
      std::cout << app.get_formatter()->make_help(&app, "quorb", CLI::AppFormatMode::Normal);
      return EXIT_DONE;
    }
    return attempt([&] { helpTopic(topic); });
  }
  if (dropped.empty()) {
    std::cout << app.help();
    sayError("quorb", "give .quorb files to convert, or a command");
    return EXIT_BAD_ARGUMENTS;
  }
  int code = attempt([&] { refuseUnknownCommand(dropped.front()); });
  if (code != EXIT_DONE) return code;
  // Each file on its own: one that fails does not stop the others.
  for (const std::string& recording : dropped)
    code = std::max(code, attempt([&] { convert(recording, "", settings, notes); }));
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
