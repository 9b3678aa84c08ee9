#include "performance.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "bench_host.h"
#include "file_access.h"
#include "tool_support.h"

namespace {

// The host's clock is 32 bits wide: one performance stays within one turn of it, which also
// bounds the number of blocks a stray time in a MIDI file can ask for.
constexpr double CLOCK_TURN = 4294967296.0;
// Far past any performance, small enough to convert safely: where pause ends are clamped.
constexpr double FAR_SAMPLE = 1099511627776.0; // 2^40

// A module describing pins without end must not keep the host asking.
constexpr int32_t MAX_PINS = 256;

uint64_t sampleOf(double seconds, int32_t rate) {
  return static_cast<uint64_t>(std::llround(std::min(seconds * rate, FAR_SAMPLE)));
}

// One number of a pause: digits first (no sign, blank, "inf" or "nan"), finite.
bool readSeconds(const char* text, const char** end, double* out) {
  if (!(std::isdigit(static_cast<unsigned char>(*text)) || *text == '.')) return false;
  char* stop = nullptr;
  *out = std::strtod(text, &stop);
  *end = stop;
  return stop != text && std::isfinite(*out);
}

void checkSettings(const PerformanceSettings& settings) {
  if (settings.rate <= 0)
    throw BenchError("the rate must be at least 1 sample per second, not " +
                     std::to_string(settings.rate));
  if (settings.block <= 0)
    throw BenchError("the block must be at least 1 sample, not " + std::to_string(settings.block));
  for (const Pause& pause : settings.pauses)
    if (!std::isfinite(pause.from) || !std::isfinite(pause.to) || pause.from < 0 ||
        pause.to <= pause.from)
      throw BenchError("a pause must run from FROM >= 0 to a later TO, not " +
                       std::to_string(pause.from) + "-" + std::to_string(pause.to));
}

struct Scheduled {
  uint64_t sample;
  uint32_t word;
};

std::vector<Scheduled> schedule(const std::vector<quorb::TimedMessage>& messages, int32_t rate) {
  std::vector<Scheduled> out;
  out.reserve(messages.size());
  for (size_t i = 0; i < messages.size(); ++i) {
    const double at = messages[i].seconds * rate;
    if (!std::isfinite(at) || at < 0)
      throw BenchError("message " + std::to_string(i + 1) + " has no usable time");
    if (at >= CLOCK_TURN - 0.5)
      throw BenchError(
          "message " + std::to_string(i + 1) + " at " + std::to_string(messages[i].seconds) +
          " s lies beyond one turn of the host's 32-bit clock at " + std::to_string(rate) + " Hz");
    out.push_back({static_cast<uint64_t>(std::llround(at)), messages[i].word});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Scheduled& a, const Scheduled& b) { return a.sample < b.sample; });
  return out;
}

// The pauses as merged, ordered runs of blocks [first, end) with "REC" 0.
std::vector<std::pair<uint64_t, uint64_t>> pausedBlocks(const PerformanceSettings& settings) {
  const auto block = static_cast<uint64_t>(settings.block);
  std::vector<std::pair<uint64_t, uint64_t>> runs;
  for (const Pause& pause : settings.pauses) {
    const uint64_t first = sampleOf(pause.from, settings.rate) / block;
    const uint64_t end = sampleOf(pause.to, settings.rate) / block;
    if (first < end) runs.emplace_back(first, end);
  }
  std::sort(runs.begin(), runs.end());
  std::vector<std::pair<uint64_t, uint64_t>> merged;
  for (const auto& run : runs) {
    if (!merged.empty() && run.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, run.second);
    else
      merged.push_back(run);
  }
  return merged;
}

// Closes the object unless the performance got as far as closing it itself.
class ObjectGuard {
public:
  explicit ObjectGuard(HostedModule& module) : module_(module) {}
  ~ObjectGuard() {
    if (module_.record() != nullptr) module_.close();
  }
  ObjectGuard(const ObjectGuard&) = delete;
  ObjectGuard& operator=(const ObjectGuard&) = delete;

private:
  HostedModule& module_;
};

// The host asks how many pins the module describes and holds that many.
int32_t countPins(HostedModule& module) {
  int32_t count = 0;
  while (count < MAX_PINS) {
    PinDescription description{};
    if (module.dispatch(MOD_GET_PIN_DESCRIPTION, count, 0, &description) == 0) break;
    ++count;
  }
  return count;
}

void checkRecorderPins(HostedModule& module, int32_t count) {
  auto refuse = [](const std::string& why) {
    throw BenchError("the module file does not make a recorder: " + why);
  };
  if (count < RECORDER_PINS)
    refuse("it describes " + quorb::plural(uint64_t(count), "pin") + ", not " +
           std::to_string(RECORDER_PINS));
  const PinDescription rec = module.describe(PIN_REC);
  const PinDescription file = module.describe(PIN_OUTFILE);
  const PinDescription diagnose = module.describe(PIN_DIAGNOSE);
  if (rec.type != PIN_ENUM || rec.variable == nullptr) refuse("pin 1 is not the REC list");
  if (file.type != PIN_TEXT || (file.flags & PIN_FLAG_FILENAME) == 0 || file.variable == nullptr)
    refuse("pin 2 is not a file name");
  if (diagnose.type != PIN_BOOL || diagnose.variable == nullptr)
    refuse("pin 3 is not the diagnostics switch");
}

// The module records nothing and says nothing when it cannot open the file, so the host finds
// out first, opening the file as the module will: for appending (which creates it), and held
// exclusively, so that a file another program holds is refused here too. Empty when it will do.
std::string recordableProblem(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(quorb::pathOf(path), error))
    return "cannot record into " + path + ": a folder, not a file";
  std::FILE* file = nullptr;
  const int openError = openExclusive(path.c_str(), "ab", &file);
  if (file != nullptr) std::fclose(file);
  if (openError == EACCES)
    return "cannot record into " + path +
           ": it is being recorded by another program, or it may not be written (" +
           std::strerror(openError) + ")";
  if (openError != 0) return "cannot record into " + path + ": " + std::strerror(openError);
  return "";
}

uint64_t sizeOf(const std::string& path) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(quorb::pathOf(path), error);
  return error ? 0 : uint64_t(size);
}

// The module's own word on the file, when its diagnostics switch was on: the result of the last
// open in the log, 0 when the log says nothing.
int loggedOpenResult() {
  std::ifstream log(quorb::pathOf(DIAGNOSTIC_LOG), std::ios::binary);
  int result = 0;
  for (std::string line; std::getline(log, line);)
    if (line.compare(0, 4, "err=") == 0) result = std::atoi(line.c_str() + 4);
  return result;
}

} // namespace

Pause parsePause(const std::string& text) {
  const auto refuse = [&] {
    return BenchError("a pause is FROM-TO in seconds with 0 <= FROM < TO, e.g. 1.5-3, not \"" +
                      text + "\"");
  };
  Pause pause{};
  const char* at = text.c_str();
  const char* end = nullptr;
  if (!readSeconds(at, &end, &pause.from) || *end != '-') throw refuse();
  if (!readSeconds(end + 1, &end, &pause.to) || *end != '\0') throw refuse();
  if (pause.to <= pause.from) throw refuse();
  return pause;
}

PerformanceReport perform(const ModuleLibrary& library,
                          const std::vector<quorb::TimedMessage>& messages,
                          const std::string& outPath, const PerformanceSettings& settings) {
  checkSettings(settings);
  const std::vector<Scheduled> scheduled = schedule(messages, settings.rate);
  const std::vector<std::pair<uint64_t, uint64_t>> paused = pausedBlocks(settings);
  const auto block = static_cast<uint64_t>(settings.block);
  const uint64_t blocks = scheduled.empty() ? 1 : scheduled.back().sample / block + 1;

  if (!library.loaded()) throw BenchError(library.error());
  ModuleInfo info{};
  if (library.getModuleProperties(0, &info) == 0)
    throw BenchError("the module file offers no module type");

  // Holds the resolved path, and the OUTFILE text the pin variable points at, until after close.
  BenchHost host;
  host.journal = false;
  host.resolvedPath = outPath;
  ModuleRecord* record = library.makeModule(0, 1, &BenchHost::callback, &host);
  if (record == nullptr) throw BenchError("the module file made no module object");
  HostedModule module(record);
  ObjectGuard guard(module);

  host.pinCount = countPins(module);
  checkRecorderPins(module, host.pinCount);
  const std::string unusable = recordableProblem(outPath);
  if (!unusable.empty() && !settings.diagnose) throw BenchError(unusable);
  const uint64_t sizeBefore = sizeOf(outPath);
  const uint64_t logBefore = settings.diagnose ? sizeOf(DIAGNOSTIC_LOG) : 0;

  module.open();
  module.dispatch(MOD_SET_SAMPLE_RATE, 0, 0, nullptr, static_cast<float>(settings.rate));
  module.dispatch(MOD_SET_BLOCK_SIZE, 0, settings.block);
  if (settings.diagnose) module.writePin(PIN_DIAGNOSE, 1);
  int32_t rec = 1;
  module.writePin(PIN_REC, rec);
  module.setPin<const char*>(PIN_OUTFILE, host.resolvedPath.c_str());
  module.pinStatus(PIN_OUTFILE, 1);
  module.pinStatus(PIN_OUTFILE, 0);

  PerformanceReport report;
  size_t next = 0;
  auto run = paused.begin();
  for (uint64_t k = 0; unusable.empty() && k < blocks; ++k) {
    while (run != paused.end() && run->second <= k)
      ++run;
    const bool pausing = run != paused.end() && run->first <= k;
    if ((pausing ? 0 : 1) != rec) {
      rec = pausing ? 0 : 1;
      module.writePin(PIN_REC, rec);
    }
    host.clock = static_cast<uint32_t>(k * block);
    module.block();
    for (const uint64_t end = (k + 1) * block;
         next < scheduled.size() && scheduled[next].sample < end; ++next) {
      host.clock = static_cast<uint32_t>(scheduled[next].sample);
      module.midi(scheduled[next].word);
      ++report.messages;
      if (pausing)
        ++report.pausedMessages;
      else if ((scheduled[next].word & 0xF0) != 0xF0)
        ++report.recordedMessages;
    }
  }
  module.close();

  report.logWritten = !settings.diagnose || sizeOf(DIAGNOSTIC_LOG) > logBefore;
  const auto logged = [&]() -> std::string {
    if (!settings.diagnose) return "";
    if (!report.logWritten) return std::string("; ") + NO_LOG_NOTE;
    const int refusal = loggedOpenResult();
    return refusal == 0
               ? ""
               : "; the module's log says it could not open it: err=" + std::to_string(refusal) +
                     " (" + std::strerror(refusal) + ")";
  };
  if (!unusable.empty()) throw BenchError(unusable + logged());
  // Whatever went wrong inside the module, a recording that did not reach the file is a failure.
  const uint64_t expected = 8 * uint64_t(report.recordedMessages);
  const uint64_t grown = sizeOf(outPath) - std::min(sizeOf(outPath), sizeBefore);
  if (grown < expected)
    throw BenchError("the recording did not reach " + outPath + ": it grew by " +
                     quorb::plural(grown, "byte") + ", not by the " + std::to_string(expected) +
                     " of the " + quorb::plural(report.recordedMessages, "message") + " played" +
                     logged());

  report.blocks = blocks;
  report.samples = blocks * block;
  report.seconds = static_cast<double>(report.samples) / settings.rate;
  return report;
}
