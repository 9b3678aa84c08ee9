#ifndef QUORB_TOOLS_QUORB_REPORT_H
#define QUORB_TOOLS_QUORB_REPORT_H

// What the quorb commands share in reading a recording and saying what they found.

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "recording.h"

namespace quorb {

// Clock ticks per second when no --rate is given: the host at 44.1 kHz.
constexpr double DEFAULT_RATE = 44100;

// "12.500000": seconds with six decimals.
std::string seconds(uint64_t ticks, double rate);
// "1:05.250": minutes and seconds, as a player shows a length.
std::string minutesAndSeconds(uint64_t ticks, double rate);

// What the run assumed, said once however many files it handles.
struct RunNotes {
  std::string rate; // the line that says which rate was taken; empty when --rate was given
  bool rateSaid = false;
  void sayRate(std::ostream& out);
};

// Keeps the first warnings of each kind and counts the rest, however many a damaged file gives.
class WarningLog {
public:
  void add(const RecordingWarning& warning);
  uint64_t count() const;
  void print(std::ostream& out, const std::string& prefix) const;

private:
  struct Kind {
    uint64_t count = 0;
    std::vector<std::string> shown;
  };
  std::array<Kind, 3> kinds_;
};

// A sink that only keeps the warnings: a first pass that checks a file before any output.
struct WarningSink : RecordingSink {
  WarningLog warnings;
  void event(const RecordedEvent&) override {}
  void warning(const RecordingWarning& warning) override { warnings.add(warning); }
};

// "3 damaged bytes skipped in 1 place", or empty when nothing was skipped.
std::string damageSummary(const ReadTotals& totals);

// Reads a recording's bytes into `sink`; what is not a recording is file trouble (FileError),
// named by path.
ReadTotals readChecked(const std::string& path, const std::vector<uint8_t>& bytes,
                       RecordingSink& sink);

} // namespace quorb

#endif // QUORB_TOOLS_QUORB_REPORT_H
