// quorb: reads .quorb recording files for people: dump, info, conversion to MIDI files, view (a
// picture page) and help topics.
// Given files and no command, it converts each file to a MIDI file beside it (what a file
// dropped on the program in Explorer asks for), never replacing a file the user did not name.
// Exit codes: 0 done (warnings included), 1 a file could not be read or written, 2 bad arguments.

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "command_line.h"
#include "commands.h"
#include "console.h"
#include "failures.h"
#include "files.h"
#include "settings_file.h"

namespace {

using namespace quorb;

// A first argument that names no file and looks like no file name is a mistyped command.
void refuseUnknownCommand(const std::string& first) {
  std::error_code error;
  if (std::filesystem::exists(pathOf(first), error)) return;
  if (first.find_first_of("./\\:") != std::string::npos) return;
  throw UsageError(
      "unknown command \"" + first +
      "\": the commands are dump, info, tomidi, view, set and help, or give .quorb files to "
      "convert them");
}

int run(int argc, char** argv) {
  Request request;
  if (const int code = readCommandLine(argc, argv, request, std::cout, std::cerr); code >= 0)
    return code;
  const auto attempt = [](const std::function<void()>& work) {
    return quorb::attempt("quorb", std::cerr, work);
  };
  if (request.command == Request::Command::Help)
    return attempt([&] { helpTopic(request.topic, std::cout); });
  if (request.command == Request::Command::Set)
    return attempt(
        [&] { setSetting(settingsFilePath(), request.setting, request.value, std::cout); });
  Settings settings;
  if (const int code = attempt([&] {
        settings = parseSettings(request.options);
        applySettingsFile(settings, settingsFilePath());
      });
      code != 0)
    return code;
  RunNotes notes;
  notes.rate = rateNote(settings);
  switch (request.command) {
  case Request::Command::Dump:
    return attempt([&] { dump(request.file, settings, notes); });
  case Request::Command::Info:
    return attempt([&] { info(request.file, settings, notes); });
  case Request::Command::ToMidi:
    return attempt([&] { convert(request.file, request.out, settings, notes); });
  case Request::Command::View:
    return attempt([&] { view(request.file, request.out, settings, notes); });
  case Request::Command::Convert:
  case Request::Command::Help:
  case Request::Command::Set:
    break;
  }
  int code = attempt([&] { refuseUnknownCommand(request.files.front()); });
  if (code != EXIT_DONE) return code;
  // Each file on its own: one that fails does not stop the others.
  for (const std::string& recording : request.files)
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
