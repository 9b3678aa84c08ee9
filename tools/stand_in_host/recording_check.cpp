#include "recording_check.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "file_access.h"
#include "files.h"
#include "numbers.h"
#include "stand_in_host.h"

namespace {

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

std::string recordingFileProblem(const std::string& path) {
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

RecordingWatch::RecordingWatch(const std::string& path, bool diagnose)
    : path_(path), diagnose_(diagnose), sizeBefore_(sizeOf(path)),
      logBefore_(diagnose ? sizeOf(DIAGNOSTIC_LOG) : 0) {}

bool RecordingWatch::logWritten() const {
  return !diagnose_ || sizeOf(DIAGNOSTIC_LOG) > logBefore_;
}

void RecordingWatch::check(const PlaybackReport& report, const std::string& problem) const {
  const auto logged = [&]() -> std::string {
    if (!diagnose_) return "";
    if (!logWritten()) return std::string("; ") + NO_LOG_NOTE;
    const int refusal = loggedOpenResult();
    return refusal == 0
               ? ""
               : "; the module's log says it could not open it: err=" + std::to_string(refusal) +
                     " (" + std::strerror(refusal) + ")";
  };
  if (!problem.empty()) throw PlaybackError(problem + logged());
  // Whatever went wrong inside the module, a recording that did not reach the file is a failure.
  const uint64_t expected = 8 * uint64_t(report.recordedMessages);
  const uint64_t size = sizeOf(path_);
  const uint64_t grown = size - std::min(size, sizeBefore_);
  if (grown < expected)
    throw PlaybackError("the recording did not reach " + path_ + ": it grew by " +
                        quorb::plural(grown, "byte") + ", not by the " + std::to_string(expected) +
                        " of the " + quorb::plural(report.recordedMessages, "message") + " played" +
                        logged());
}
