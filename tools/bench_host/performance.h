#ifndef QUORB_TOOLS_BENCH_HOST_PERFORMANCE_H
#define QUORB_TOOLS_BENCH_HOST_PERFORMANCE_H

// A whole performance: timed MIDI messages played through one recorder object of a module file
// into one recording file, with the host's clock, blocks and pins.
//
// The clock and the order of calls, which decide every recorded time:
// - The clock counts samples from 0: one tick per sample at `rate`. A message at t seconds sits
//   at sample s = round(t * rate); block k covers samples [k * block, (k + 1) * block).
// - Before the first block, at clock 0: MOD_OPEN, the sample rate and block size, the switch
//   pin (when diagnosing), "REC" 1, then "OUTFILE" is chosen (its text written, status 1, then
//   status 0 again).
// - Each block k: first "REC" is written if it changes at this block, then the process routine
//   runs with the clock at k * block, then the messages of samples in the block are delivered
//   in order, the clock reading each message's own sample. A recorded time is therefore exact
//   to the sample, and no message is handled between "REC" returning to 1 and the block that
//   ends the pause.
// - A pause FROM-TO holds "REC" at 0 from the block that holds sample round(FROM * rate) up to,
//   not including, the block that holds round(TO * rate). The time cut out is thus a whole
//   number of blocks; a pause that starts and ends in one block has no effect. Messages in
//   paused blocks are still delivered (the module drops them). Pauses may overlap.
// - Blocks run up to and including the one that holds the last message (at least one block);
//   then the object is closed, which closes the recording file.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "module_library.h"
#include "smf.h"

// Bad settings, an unusable module file or recording file (nothing was played), or a
// recording that did not reach its file after playing.
class BenchError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct Pause {
  double from; // seconds
  double to;
};

// "FROM-TO" in seconds, 0 <= FROM < TO, e.g. "1.5-3". Throws BenchError saying what is wrong.
Pause parsePause(const std::string& text);

struct PerformanceSettings {
  int32_t rate = 44100; // samples per second; the clock ticks once per sample
  int32_t block = 64;   // samples per block
  std::vector<Pause> pauses;
  bool diagnose = false; // the module's diagnostics switch
};

struct PerformanceReport {
  size_t messages = 0;         // delivered to the module, paused ones included
  size_t pausedMessages = 0;   // delivered while "REC" was 0
  size_t recordedMessages = 0; // delivered while "REC" was 1, system messages left out
  uint64_t blocks = 0;
  uint64_t samples = 0;   // blocks * block
  double seconds = 0;     // samples / rate
  bool logWritten = true; // false: the diagnostics switch was on, but the log did not grow
};

// Why a log did not grow: the module says nothing else when it cannot write it.
inline constexpr const char* NO_LOG_NOTE =
    "the module could not write its log D:\\DIAGNOSE.TXT: is there a drive D: it may write to?";

// Plays `messages` (in any order; equal times keep theirs) through a new recorder object from
// `library`, recording into `outPath` (appended to when it exists, as the module does). Throws
// BenchError before any block runs when the settings, a message time, the module or the file
// will not do (a file someone else holds included), and after the performance when the file
// did not grow by 8 bytes for each message recorded: the module could not open or write it.
// With `diagnose`, a file that will not do is still chosen on OUTFILE, so that the module makes
// its own attempt and logs it, and then the object is closed unplayed and BenchError thrown.
PerformanceReport perform(const ModuleLibrary& library,
                          const std::vector<quorb::TimedMessage>& messages,
                          const std::string& outPath, const PerformanceSettings& settings);

#endif // QUORB_TOOLS_BENCH_HOST_PERFORMANCE_H
