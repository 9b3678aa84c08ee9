#ifndef QUORB_TOOLS_COMMON_FAILURES_H
#define QUORB_TOOLS_COMMON_FAILURES_H

// How both tools fail: one exit-code convention, errors said in words, and the one mapping from
// what a command throws to the exit code.

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>

namespace quorb {

enum ExitCode : int { EXIT_DONE = 0, EXIT_FILE_TROUBLE = 1, EXIT_BAD_ARGUMENTS = 2 };

// A mistake in the command line or in what it asks for: exit 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A file that cannot be read, written or used: exit 1.
struct FileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Writes `text` to `out`, each line after "PROGRAM: ".
void sayTo(std::ostream& out, const char* program, const std::string& text);

// Runs `work` and turns what it throws into the exit code, saying it in words to `err`: a
// UsageError or std::invalid_argument is the command line's (2), anything else file trouble (1).
// The one mapping from failures to exit codes, for both tools.
int attempt(const char* program, std::ostream& err, const std::function<void()>& work);

} // namespace quorb

#endif // QUORB_TOOLS_COMMON_FAILURES_H
