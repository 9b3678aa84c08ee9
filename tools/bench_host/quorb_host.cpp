#include "quorb_host.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "module_library.h"
#include "performance.h"
#include "smf.h"

namespace {

const char* const RECORD_HELP =
    "Plays a Standard MIDI File (type 0 or 1) through one recorder object of the module file, "
    "as the host would: REC 1, OUT.quorb chosen on OUTFILE (appended to when it exists), every "
    "channel message delivered, then the object closed.\n"
    "The host's clock ticks once per sample at --rate, so recorded times are in samples. The "
    "process routine runs once per block of --block samples, at the block's first sample; a "
    "message follows the process call of the block that holds its sample, with the clock at "
    "that exact sample. Each --pause FROM-TO (seconds) sets REC to 0 from the block holding "
    "FROM up to the block holding TO, so a whole number of blocks is cut out; the MIDI in "
    "between is still delivered and the module drops it.";

std::string summary(const std::string& in, const std::string& out, const PerformanceReport& r,
                    const PerformanceSettings& s) {
  char seconds[64];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  std::string line =
      "played " + std::to_string(r.messages) + " messages from " + in + " into " + out;
  if (r.pausedMessages != 0) line += " (" + std::to_string(r.pausedMessages) + " while paused)";
  return line + ": " + seconds + " s, " + std::to_string(r.blocks) + " blocks of " +
         std::to_string(s.block) + " samples at " + std::to_string(s.rate) + " Hz";
}

} // namespace

int runQuorbHost(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"quorb-host: the bench host. Plays the host's part for the recorder module, "
               "without the host."};
  app.name("quorb-host");
  app.require_subcommand(1);
  // Paths may start with a slash (Wine takes Unix paths); they are never options.
  app.allow_windows_style_options(false);

  std::string midiPath;
  std::string outPath;
  std::vector<std::string> pauseTexts;
  std::string modulePath = QUORB_DEFAULT_MODULE;
  PerformanceSettings settings;

  CLI::App* record = app.add_subcommand("record", RECORD_HELP);
  record->add_option("IN.mid", midiPath, "the Standard MIDI File to play")->required();
  record->add_option("OUT.quorb", outPath, "the recording file to choose on OUTFILE")->required();
  record->add_option("--rate", settings.rate, "samples (clock ticks) per second")
      ->capture_default_str()
      ->check(CLI::Range(1, INT32_MAX));
  record->add_option("--block", settings.block, "samples per block")
      ->capture_default_str()
      ->check(CLI::Range(1, INT32_MAX));
  record->add_option("--pause", pauseTexts, "REC 0 from FROM to TO seconds, e.g. 1.5-3; repeatable")
      ->type_name("FROM-TO")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  record->add_flag("--diagnose", settings.diagnose,
                   "turn on the module's switch: a line per file opening in D:\\DIAGNOSE.TXT");
  record->add_option("--module", modulePath, "the module file to load")->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err);
  }

  try {
    for (const std::string& text : pauseTexts)
      settings.pauses.push_back(parsePause(text));
    // SmfError names the file and the byte where it went wrong.
    const std::vector<quorb::TimedMessage> messages = quorb::readChannelMessages(midiPath);
    const ModuleLibrary library(modulePath);
    const PerformanceReport report = perform(library, messages, outPath, settings);
    out << "quorb-host: " << summary(midiPath, outPath, report, settings) << "\n";
    return 0;
  } catch (const std::exception& e) {
    err << "quorb-host: " << e.what() << "\n";
    return 1;
  }
}
