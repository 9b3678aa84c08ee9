#ifndef QUORB_TOOLS_COMMON_CLI_CONVENTIONS_H
#define QUORB_TOOLS_COMMON_CLI_CONVENTIONS_H

// The command-line conventions both tools keep, over CLI11 (link quorb_cli11).

#include <CLI/CLI.hpp>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "failures.h"

namespace quorb {

// Parses `argv` into `app`, /? and -? taken for --help as Windows users type them. Returns -1 when
// the program goes on. Help and --version are printed and give 0; a mistake is said in words, every
// line after the program's name, with where to read more, and gives EXIT_BAD_ARGUMENTS.
inline int parseCommandLine(CLI::App& app, int argc, const char* const* argv, std::ostream& out,
                            std::ostream& err) {
  // Paths may start with a slash (Wine takes Unix paths); they are never Windows-style options.
  // Subcommands copy the setting when they are made, so each is told again.
  app.allow_windows_style_options(false);
  for (CLI::App* command : app.get_subcommands({}))
    command->allow_windows_style_options(false);
  std::vector<const char*> arguments(argv, argv + argc);
  for (const char*& argument : arguments)
    if (std::strcmp(argument, "/?") == 0 || std::strcmp(argument, "-?") == 0) argument = "--help";
  try {
    app.parse(int(arguments.size()), arguments.data());
    return -1;
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error, out, err);
    const std::string program = app.get_name();
    sayTo(err, program.c_str(), error.what());
    sayTo(err, program.c_str(), program + " --help tells how to use it");
    return EXIT_BAD_ARGUMENTS;
  }
}

} // namespace quorb

#endif // QUORB_TOOLS_COMMON_CLI_CONVENTIONS_H
