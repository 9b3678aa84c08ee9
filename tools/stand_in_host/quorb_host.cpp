#include "quorb_host.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_conventions.h"
#include "failures.h"
#include "files.h"
#include "module_library.h"
#include "numbers.h"
#include "playback.h"
#include "quorb_version.h"
#include "recording.h"
#include "recording_check.h"
#include "smf.h"

namespace {

using quorb::FileError;
using quorb::UsageError;

const char* const RECORD_HELP =
    "Plays a Standard MIDI File (type 0 or 1) through one recorder object of the module file, "
    "as the host would: REC 1, OUT.quorb chosen on OUTFILE (appended to when it exists), every "
    "channel message delivered, then the object closed.\n"
    "The host's clock ticks once per sample at --rate, so recorded times are in samples. The "
    "process routine runs once per block of --block samples, at the block's first sample; a "
    "message follows the process call of the block that holds its sample, with the clock at "
    "that exact sample. Each --pause FROM-TO (seconds) sets REC to 0 from the block holding "
    "FROM up to the block holding TO, so a whole number of blocks is cut out; the MIDI in "
    "between is still delivered and the module drops it.\n"
    "Without --module, the module file next to quorb-host is used, else the one of the build "
    "tree it was built in.";

#ifdef _WIN32
const char* const MODULE_FILE = "QUORB_REC_M.sem";
#else
const char* const MODULE_FILE = "QUORB_REC_M.so";
#endif

// The module file next to the program (an unzipped release), else the developer's build tree.
std::string defaultModule() {
  const std::string folder = quorb::programFolder();
  std::vector<std::string> looked;
  if (!folder.empty()) looked.push_back(quorb::textOf(quorb::pathOf(folder) / MODULE_FILE));
#ifdef QUORB_DEFAULT_MODULE
  looked.push_back(QUORB_DEFAULT_MODULE);
#endif
  for (const std::string& candidate : looked) {
    std::error_code error;
    if (std::filesystem::is_regular_file(quorb::pathOf(candidate), error)) return candidate;
  }
  std::string where;
  for (const std::string& candidate : looked)
    where += "\n  " + candidate;
  throw FileError(std::string("cannot find the module file ") + MODULE_FILE +
                  "; looked for:" + where + "\ngive its path with --module");
}

// What an existing OUT is, by its first bytes, when it is a kind that quorb refuses to read
// (recording.h); null for a recording, an empty file or none.
const char* knownFormatOf(const std::string& path) {
  std::ifstream file(quorb::pathOf(path), std::ios::binary);
  std::vector<char> start(4096); // as much as knownFormat looks at for text
  file.read(start.data(), std::streamsize(start.size()));
  return quorb::knownFormat(reinterpret_cast<const uint8_t*>(start.data()), size_t(file.gcount()));
}

// Refuses an OUT that the module would damage by appending records to it, leaving a take that
// quorb would not read, and a name that would pass a recording off as a MIDI file.
void checkOut(const std::string& in, const std::string& out) {
  if (quorb::sameFile(in, out))
    throw UsageError(out + " is the MIDI file being played: records would be appended to it");
  if (const char* kind = knownFormatOf(out))
    throw FileError(out + " is " + kind +
                    ", not a recording: records would be appended to it "
                    "and it would hold a take quorb cannot read; choose a .quorb file");
  std::string extension = quorb::textOf(quorb::pathOf(out).extension());
  for (char& c : extension)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".mid" || extension == ".midi")
    throw UsageError(out + ": a recording is not a MIDI file and is not named like one; choose "
                           "a name ending in .quorb");
}

// One number of a pause: digits first (no sign, blank, "inf" or "nan"), finite.
bool readSeconds(const char* text, const char** end, double* out) {
  if (!(std::isdigit(static_cast<unsigned char>(*text)) || *text == '.')) return false;
  char* stop = nullptr;
  *out = std::strtod(text, &stop);
  *end = stop;
  return stop != text && std::isfinite(*out);
}

// "FROM-TO" in seconds, 0 <= FROM < TO, e.g. "1.5-3".
Pause parsePause(const std::string& text) {
  const auto refuse = [&] {
    return UsageError("a pause is FROM-TO in seconds with 0 <= FROM < TO, e.g. 1.5-3, not \"" +
                      text + "\"");
  };
  Pause pause{};
  const char* at = text.c_str();
  const char* end = nullptr;
  if (!readSeconds(at, &end, &pause.from) || *end != '-') throw refuse();
  if (!readSeconds(end + 1, &end, &pause.to) || *end != '\0') throw refuse();
  if (pause.to <= pause.from) throw refuse();
  return pause;
}

std::string summary(const std::string& in, const std::string& out, const PlaybackReport& r,
                    const PlaybackSettings& s) {
  char seconds[64];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  std::string line =
      "played " + quorb::plural(r.messages, "message") + " from " + in + " into " + out;
  if (r.pausedMessages != 0) line += " (" + std::to_string(r.pausedMessages) + " while paused)";
  return line + ": " + seconds + " s, " + quorb::plural(r.blocks, "block") + " of " +
         quorb::plural(uint64_t(s.block), "sample") + " at " + std::to_string(s.rate) + " Hz";
}

} // namespace

int runQuorbHost(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"quorb-host " QUORB_VERSION
               ": the stand-in host. Plays the host's part for the recorder module, without the "
               "host.\nExit codes: 0 done, 1 file trouble, 2 bad arguments."};
  app.name("quorb-host");
  app.set_version_flag("--version", "quorb-host " QUORB_VERSION);
  app.require_subcommand(1);

  std::string midiPath;
  std::string outPath;
  std::vector<std::string> pauseTexts;
  std::string modulePath;
  std::string rateText = "44100";
  std::string blockText = "64";
  PlaybackSettings settings;

  CLI::App* record = app.add_subcommand("record", RECORD_HELP);
  record->add_option("IN.mid", midiPath, "the Standard MIDI File to play")->required();
  record->add_option("OUT.quorb", outPath, "the recording file to choose on OUTFILE")->required();
  record->add_option("--rate", rateText, "samples (clock ticks) per second")
      ->type_name("HZ")
      ->capture_default_str();
  record->add_option("--block", blockText, "samples per block")
      ->type_name("N")
      ->capture_default_str();
  record->add_option("--pause", pauseTexts, "REC 0 from FROM to TO seconds, e.g. 1.5-3; repeatable")
      ->type_name("FROM-TO")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  record->add_flag("--diagnose", settings.diagnose,
                   "turn on the module's switch: a line per file opening in D:\\DIAGNOSE.TXT");
  record
      ->add_option("--module", modulePath,
                   std::string("the module file to load (default: ") + MODULE_FILE +
                       " next to quorb-host)")
      ->type_name("PATH");

  if (const int code = quorb::parseCommandLine(app, argc, argv, out, err); code >= 0) return code;
  return quorb::attempt("quorb-host", err, [&] {
    quorb::parseRate("--rate", rateText); // the kHz hint
    settings.rate = int32_t(quorb::parseInteger("--rate", rateText, int64_t(quorb::MIN_RATE),
                                                int64_t(quorb::MAX_RATE), "48000"));
    settings.block = int32_t(quorb::parseInteger("--block", blockText, 1, INT32_MAX, "64"));
    for (const std::string& text : pauseTexts)
      settings.pauses.push_back(parsePause(text));
    // SmfError names the file and the byte where it went wrong.
    const std::vector<quorb::TimedMessage> messages = quorb::readChannelMessages(midiPath);
    checkOut(midiPath, outPath);
    const ModuleLibrary library(modulePath.empty() ? defaultModule() : modulePath);
    Playback playback(library, messages, settings);
    // A file that will not do is refused before playing; with --diagnose the module is still
    // given it, so that its log tells its own result, and nothing is played.
    const std::string problem = recordingFileProblem(outPath);
    if (!problem.empty() && !settings.diagnose) throw FileError(problem);
    const RecordingWatch watch(outPath, settings.diagnose);
    const PlaybackReport report = playback.run(outPath, !problem.empty());
    watch.check(report, problem);
    out << "quorb-host: " << summary(midiPath, outPath, report, settings) << "\n";
    if (!watch.logWritten()) quorb::sayTo(err, "quorb-host", NO_LOG_NOTE);
  });
}
