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
#include <functional>
#include <ostream>
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

// The number in `text` for `option`, or UsageError saying in words what is wrong with it, the
// range with `example` ("960") among them.
double parseNumber(const std::string& option, const std::string& text, double min, double max,
                   const std::string& example);
// A `max` of INT64_MAX reads as no upper bound.
int64_t parseInteger(const std::string& option, const std::string& text, int64_t min, int64_t max,
                     const std::string& example);

// Clock ticks (samples) per second, from MIN_RATE to MAX_RATE. Below MIN_RATE the number is
// taken for kHz and refused with the rate it likely means: "44.1" is not 44.1 ticks a second.
constexpr double MIN_RATE = 1000, MAX_RATE = 1e9;
double parseRate(const std::string& option, const std::string& text);

std::filesystem::path pathOf(const std::string& utf8);
std::string textOf(const std::filesystem::path& path);

// The whole file, or FileError in words: missing, a folder, unreadable. `what` names what the
// file should be ("recording", "MIDI file").
std::vector<uint8_t> readWholeFile(const std::string& path, const std::string& what);

// True when both name one existing file (hard links and symbolic links included).
bool sameFile(const std::string& a, const std::string& b);

// True when the file exists and starts with `magic`.
bool fileStartsWith(const std::string& path, const std::string& magic);

// `wanted` when nothing has that name and it is not in `taken`, else the first free
// "NAME (2).EXT", "NAME (3).EXT", ...: an output the user did not name never replaces a file.
std::string freeName(const std::string& wanted, const std::vector<std::string>& taken = {});

// True when the stream is a console or terminal: no place for binary output.
bool isConsole(std::FILE* stream);

// Writes `text` to `out`, each line after "PROGRAM: ".
void sayTo(std::ostream& out, const char* program, const std::string& text);

// Runs `work` and turns what it throws into the exit code, saying it in words to `err`: a
// UsageError or std::invalid_argument is the command line's (2), anything else file trouble (1).
// The one mapping from failures to exit codes, for both tools.
int attempt(const char* program, std::ostream& err, const std::function<void()>& work);

// The folder holding the running program, in UTF-8; empty when the system will not say.
std::string programFolder();

// Writes a file whole or not at all: the bytes go to a temporary file beside the target, which
// replaces the target only at commit. Until then an existing target is untouched, and the
// temporary file is removed if commit never comes. Unless `replace`, commit fails rather than
// replace a file that took the target's name meanwhile.
class AtomicFile {
public:
  explicit AtomicFile(const std::string& target, bool replace = true);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(const uint8_t* data, size_t size);
  void commit(); // throws FileError; nothing is left behind then either

private:
  std::string target_;
  bool replace_;
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
