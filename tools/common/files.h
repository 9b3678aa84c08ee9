#ifndef QUORB_TOOLS_COMMON_FILES_H
#define QUORB_TOOLS_COMMON_FILES_H

// Files as both tools use them. File names are UTF-8 strings everywhere inside the tools. On
// Windows the programs carry a manifest that makes UTF-8 the process code page (Windows 10 1903
// and later), so that their arguments arrive in UTF-8 and the module's own narrow file calls
// take the same names; std::filesystem calls go through pathOf, which converts to UTF-16
// whatever the code page.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace quorb {

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

} // namespace quorb

#endif // QUORB_TOOLS_COMMON_FILES_H
