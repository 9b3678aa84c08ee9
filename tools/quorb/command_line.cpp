#include "command_line.h"

#include "cli_conventions.h"
#include "failures.h"
#include "quorb_version.h"

namespace quorb {
namespace {

void addRate(CLI::App* command, OptionTexts& options, const std::string& help) {
  command->add_option("--rate", options.rate, help)->type_name("TICKS");
}

void addSplit(CLI::App* command, OptionTexts& options, const std::string& help) {
  command->add_flag("--split", options.split, help);
}

// How a take's time is written: the grid found in the playing, unless told otherwise.
void addGrid(CLI::App* command, OptionTexts& options) {
  command
      ->add_option("--tempo", options.tempo,
                   "the host's tempo played to, in quarters, if known: bars still found")
      ->type_name("BPM");
  command->add_option("--meter", options.meter, "the meter, if known: 2/4, 3/4, 4/4, 6/8...")
      ->type_name("N/D");
  command->add_flag("--plain", options.plain,
                    "a constant 120 BPM (tomidi: --bpm) instead of the grid");
}

void addFile(CLI::App* command, Request& request) {
  command->add_option("FILE", request.file, "the .quorb file")->required();
}

const char* const RATE_HELP = "the host's clock ticks per second (its sample rate; default: "
                              "quorb set rate's, else 44100)";

} // namespace

int readCommandLine(int argc, const char* const* argv, Request& request, std::ostream& out,
                    std::ostream& err) {
  OptionTexts& options = request.options;
  CLI::App app{"quorb " QUORB_VERSION ": turns .quorb recordings of the QUORB_REC_M module into "
               "MIDI files.\nDrop recordings on quorb to get FILE.mid beside each (FILE (2).mid "
               "when that is taken)."};
  app.name("quorb");
  app.set_version_flag("--version", "quorb " QUORB_VERSION);

  app.add_option("FILES", request.files, "recordings to convert, each to a .mid beside it")
      ->type_name("");
  addRate(&app, options, RATE_HELP);
  addSplit(&app, options, "a MIDI file per take: FILE-1.mid, FILE-2.mid...");
  addGrid(&app, options);

  CLI::App* dump = app.add_subcommand("dump", "a line per record, take by take")->ignore_case();
  addFile(dump, request);
  addRate(dump, options, RATE_HELP + std::string(": also show seconds"));

  CLI::App* info =
      app.add_subcommand("info", "how many takes, how long, any damage")->ignore_case();
  addFile(info, request);
  addRate(info, options, RATE_HELP);
  addGrid(info, options);

  CLI::App* tomidi =
      app.add_subcommand("tomidi", "write a MIDI file: a track per take, or --split, --take N")
          ->ignore_case();
  addFile(tomidi, request);
  tomidi->add_option("OUT", request.out,
                     "the .mid file to write, replaced if it is one (default: FILE.mid beside "
                     "FILE, or the next free name; - for standard output)");
  addRate(tomidi, options, RATE_HELP);
  tomidi
      ->add_option("--ppq", options.ppq,
                   "ticks per quarter note (default: 960, finer where a quarter lasts over "
                   "1.9 s, so every message stays within 1 ms)")
      ->type_name("N");
  tomidi->add_option("--bpm", options.bpm, "a constant tempo written to the file (--plain)")
      ->type_name("BPM");
  addGrid(tomidi, options);
  tomidi->add_option("--take", options.take, "write only this take (from 1) as format 0")
      ->type_name("N");
  tomidi->add_option("--recording", options.take)->group(""); // --take's name before takes
  addSplit(tomidi, options, "a format 0 file per take: OUT-1.mid, OUT-2.mid...");

  CLI::App* view = app.add_subcommand("view", "draw every take as a piano roll in a picture "
                                              "page (open it in a web browser)")
                       ->ignore_case();
  addFile(view, request);
  view->add_option(
      "OUT", request.out,
      "the .html page to write, replaced if it is one (default: FILE.html beside FILE, "
      "or the next free name; - for standard output)");
  addRate(view, options, RATE_HELP);
  addGrid(view, options);

  CLI::App* set = app.add_subcommand("set", "quorb set rate 48000: the host's rate for every "
                                            "command, kept in quorb.ini beside quorb")
                      ->ignore_case();
  set->add_option("NAME", request.setting, "rate")->type_name("")->required();
  set->add_option("VALUE", request.value,
                  "the host's clock ticks per second; without it, the rate in use is said")
      ->type_name("");

  CLI::App* help =
      app.add_subcommand("help", "quorb help format: the file format and its damage rules")
          ->ignore_case();
  help->add_option("TOPIC", request.topic, "format")->type_name("");
  // Set last: subcommands copy the footer when they are made.
  app.footer("Example: quorb tomidi \"My take.quorb\" --rate 48000\n"
             "A host at 48 kHz: quorb set rate 48000 once, and every command takes it.\n"
             "Exit codes: 0 done, 1 file trouble, 2 bad arguments.");

  if (const int code = parseCommandLine(app, argc, argv, out, err); code >= 0) return code;
  using Command = Request::Command;
  if (*dump) request.command = Command::Dump;
  if (*info) request.command = Command::Info;
  if (*tomidi) request.command = Command::ToMidi;
  if (*view) request.command = Command::View;
  if (*set) request.command = Command::Set;
  if (*help) {
    if (request.topic.empty()) {
      // app.help() would show the help command's own help.
      out << app.get_formatter()->make_help(&app, "quorb", CLI::AppFormatMode::Normal);
      return EXIT_DONE;
    }
    request.command = Command::Help;
  }
  if (request.command == Command::Convert && request.files.empty()) {
    out << app.help();
    sayTo(err, "quorb", "give .quorb files to convert, or a command");
    return EXIT_BAD_ARGUMENTS;
  }
  return -1;
}

} // namespace quorb
