#ifndef QUORB_TOOLS_COMMON_TOOL_SUPPORT_H
#define QUORB_TOOLS_COMMON_TOOL_SUPPORT_H

// What the command-line tools share: one exit-code convention, errors in words, file names in
// UTF-8 on every system, whole-or-nothing output files, and the Windows console.
//
// File names are UTF-8 strings everywhere inside the tools. On Windows the programs carry a
// manifest that makes UTF-8 the process code page (Windows 10 1903 and later), so that their
// arguments arrive in UTF-8 and the module's own narrow file calls take the same names;
// std::filesystem calls go through pathOf, which converts to UTF-16 whatever the code page.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

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

// "1 message", "2 messages"; `many` defaults to `one` + "s".
std::string plural(uint64_t count, const std::string& one, const std::string& many = "");

// The number in `text` for `option`, or UsageError saying in words what is wrong with it.
double parseNumber(const std::string& option, const std::string& text, double min, double max);
int64_t parseInteger(const std::string& option, const std::string& text, int64_t min, int64_t max);

std::filesystem::path pathOf(const std::string& utf8);
std::string textOf(const std::filesystem::path& path);

// The whole file, or FileError in words: missing, a folder, unreadable. `what` names what the
// file should be ("recording", "MIDI file").
std::vector<uint8_t> readWholeFile(const std::string& path, const std::string& what);

// True when both name one existing file (hard links and symbolic links included).
bool sameFile(const std::string& a, const std::string& b);

// True when the file exists and starts with `magic`.
bool fileStartsWith(const std::string& path, const std::string& magic);

// The folder holding the running program, in UTF-8; empty when the system will not say.
std::string programFolder();

// Writes a file whole or not at all: the bytes go to a temporary file beside the target, which
// replaces the target only at commit. Until then an existing target is untouched, and the
// temporary file is removed if commit never comes.
class AtomicFile {
public:
  explicit AtomicFile(const std::string& target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(const uint8_t* data, size_t size);
  void commit(); // throws FileError; nothing is left behind then either

private:
  std::string target_;
  std::filesystem::path temporary_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

// Console set-up at start: UTF-8 output on Windows, so that file names print as they are.
void setUpConsole();

// When the program's console belongs to it alone (Windows: started from Explorer, by a double
// click or a file dropped on it), waits for Enter so that the window stays up to be read.
// Elsewhere, and under a shell, it returns at once.
void holdConsoleIfOwn();

} // namespace quorb

#endif // QUORB_TOOLS_COMMON_TOOL_SUPPORT_H
