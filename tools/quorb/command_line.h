#ifndef QUORB_TOOLS_QUORB_COMMAND_LINE_H
#define QUORB_TOOLS_QUORB_COMMAND_LINE_H

// quorb's command line: its commands and options, each declared once.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "settings.h"

namespace quorb {

struct Request {
  enum class Command { Convert, Dump, Info, ToMidi, View, Help, Set };
  Command command = Command::Convert; // Convert: the files dropped on quorb
  std::vector<std::string> files;     // Convert's
  std::string file;                   // the other commands'
  std::string out;                    // tomidi's and view's OUT, empty for none
  std::string topic;                  // help's
  std::string setting;                // set's NAME, and its VALUE when one is given
  std::optional<std::string> value;
  OptionTexts options;
};

// Reads the command line into `request`. Returns -1 when the run goes on; otherwise the exit
// code, having printed the help, the version or what is wrong with the command line.
int readCommandLine(int argc, const char* const* argv, Request& request, std::ostream& out,
                    std::ostream& err);

} // namespace quorb

#endif // QUORB_TOOLS_QUORB_COMMAND_LINE_H
