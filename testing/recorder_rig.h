#ifndef QUORB_TESTS_SUPPORT_RECORDER_RIG_H
#define QUORB_TESTS_SUPPORT_RECORDER_RIG_H

// One recorder object from the built module file, driven as the host drives it: the one rig of
// the tests and the benchmarks. It needs no test framework; what goes wrong is thrown, which a
// test reports as its failure.

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "built_module.h"
#include "scratch_dir.h"
#include "stand_in_host.h"

// DIAGNOSTIC_LOG is, on Windows, the real log on drive D: (under Wine a scratch folder of the
// build tree), one file for every test; elsewhere a file of that odd name in the working
// directory.

// The log is written in text mode: the system's line end reaches the file.
#ifdef _WIN32
inline const std::string LOG_LINE_END = "\r\n";
#else
inline const std::string LOG_LINE_END = "\n";
#endif

// Removes the log before and after a test. Construct it after the ScratchDir, so that the relative
// name used outside Windows resolves inside the scratch directory.
class FreshLog {
public:
  FreshLog() { clear(); }
  ~FreshLog() { clear(); }
  FreshLog(const FreshLog&) = delete;
  FreshLog& operator=(const FreshLog&) = delete;
  static void clear() {
    std::error_code ignored;
    std::filesystem::remove_all(DIAGNOSTIC_LOG, ignored);
  }
};

// The log's text with every line end checked to be the system's and read back as "\n".
inline std::string readLog() {
  const std::string raw = readText(DIAGNOSTIC_LOG);
  std::string text;
  for (size_t at = 0; at < raw.size();) {
    if (raw.compare(at, LOG_LINE_END.size(), LOG_LINE_END) == 0) {
      text += '\n';
      at += LOG_LINE_END.size();
      continue;
    }
    if (raw[at] == '\n' || raw[at] == '\r')
      throw std::runtime_error("the log has a line end that is not the system's at byte " +
                               std::to_string(at));
    text += raw[at++];
  }
  return text;
}

inline ModuleRecord* makeRecorder(StandInHost& host) {
  ModuleLibrary& library = builtModule();
  if (!library.loaded()) throw std::runtime_error(library.error());
  ModuleRecord* record = library.makeModule(0, 1, &StandInHost::callback, &host);
  if (record == nullptr) throw std::runtime_error("makeModule gave no object");
  return record;
}

class Recorder {
public:
  explicit Recorder(int32_t hostPins = 4) : module(open(host, hostPins)) {}
  ~Recorder() {
    if (module.record() != nullptr) module.close();
  }

  void at(uint32_t clock) { host.clock = clock; }
  void rec(int16_t value) { module.setPin<int16_t>(PIN_INDEX_REC, value); }
  void diagnose(uint8_t on) { module.setPin<uint8_t>(PIN_INDEX_DIAGNOSE, on); }
  void choose(const std::string& path) {
    host.resolvedPath = path;
    module.pinStatus(PIN_INDEX_OUTFILE, 1);
  }
  void block() { module.block(); }
  // The event's other words carry junk: the recorder must take its time from the clock alone.
  void midi(uint32_t message) { module.midi(message, 0xDEADBEEF, 0xFFFF); }
  void close() { module.close(); }

  // Plays a script of blank-separated steps, files named relative to `dir`:
  //   @N clock   rec=N   diag=N   file=NAME (file= is the empty path)   blk   m=WORD
  //   reopen (a second MOD_OPEN)   close   size=N (asserts take.quorb's size on disk now)
  void play(const std::string& script, const ScratchDir& dir) {
    std::istringstream steps(script);
    for (std::string step; steps >> step;) {
      const size_t eq = step.find('=');
      const std::string key = step.substr(0, eq);
      const std::string arg = eq == std::string::npos ? "" : step.substr(eq + 1);
      auto number = [&](const std::string& text) { return uint32_t(std::stoul(text, nullptr, 0)); };
      if (key[0] == '@')
        at(number(key.substr(1)));
      else if (key == "rec")
        rec(int16_t(number(arg)));
      else if (key == "diag")
        diagnose(uint8_t(number(arg)));
      else if (key == "file")
        choose(arg.empty() ? "" : dir.path(arg));
      else if (key == "blk")
        block();
      else if (key == "m")
        midi(number(arg));
      else if (key == "reopen")
        module.open();
      else if (key == "close")
        close();
      else if (key == "size")
        expectSize(dir.path("take.quorb"), number(arg));
      else
        throw std::invalid_argument("unknown step " + step);
    }
  }

  StandInHost host;
  HostedModule module;

private:
  static void expectSize(const std::string& path, size_t size) {
    const size_t actual = readBytes(path).size();
    if (actual != size)
      throw std::runtime_error(path + " holds " + std::to_string(actual) + " bytes, not " +
                               std::to_string(size));
  }

  static HostedModule open(StandInHost& host, int32_t pins) {
    host.pinCount = pins;
    HostedModule module(makeRecorder(host));
    module.open();
    return module;
  }
};

using Record = std::pair<uint32_t, uint32_t>; // time, message

// One record as the module writes it: time, then message word, little-endian.
inline void appendRecord(std::vector<uint8_t>& bytes, uint32_t time, uint32_t message) {
  for (uint32_t word : {time, message})
    for (int shift = 0; shift < 32; shift += 8)
      bytes.push_back(static_cast<uint8_t>(word >> shift));
}

inline std::vector<Record> records(const std::vector<uint8_t>& bytes) {
  auto word = [&](size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
  };
  std::vector<Record> out;
  for (size_t at = 0; at + 8 <= bytes.size(); at += 8)
    out.emplace_back(word(at), word(at + 4));
  return out;
}

#endif // QUORB_TESTS_SUPPORT_RECORDER_RIG_H
