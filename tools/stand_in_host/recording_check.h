#ifndef QUORB_TOOLS_STAND_IN_HOST_RECORDING_CHECK_H
#define QUORB_TOOLS_STAND_IN_HOST_RECORDING_CHECK_H

// What quorb-host checks of the recording file around a playback. The module records nothing and
// says nothing when it cannot open or write the file, so the host looks for itself: before, by
// opening the file as the module will; after, by the file's growth and the module's own log.

#include <cstdint>
#include <string>

#include "playback.h"

// Why a log did not grow: the module says nothing else when it cannot write it.
inline constexpr const char* NO_LOG_NOTE =
    "the module could not write its log D:\\DIAGNOSE.TXT: is there a drive D: it may write to?";

// Opens `path` as the module will: for appending (which creates it), held exclusively, so that a
// file another program holds is refused here too. Empty when it will do, else why not in words.
std::string recordingFileProblem(const std::string& path);

// The recording file's size and, when diagnosing, the log's, taken before a playback.
class RecordingWatch {
public:
  RecordingWatch(const std::string& path, bool diagnose);

  // After the playback: throws PlaybackError when `problem` (from recordingFileProblem) is not
  // empty, or when the file did not grow by 8 bytes for each message recorded; the module's own
  // word from its log is added when diagnosing.
  void check(const PlaybackReport& report, const std::string& problem) const;

  // False when diagnosing and the module's log did not grow.
  bool logWritten() const;

private:
  std::string path_;
  bool diagnose_;
  uint64_t sizeBefore_;
  uint64_t logBefore_;
};

#endif // QUORB_TOOLS_STAND_IN_HOST_RECORDING_CHECK_H
