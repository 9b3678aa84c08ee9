#ifndef QUORB_TOOLS_STAND_IN_HOST_PLAYBACK_H
#define QUORB_TOOLS_STAND_IN_HOST_PLAYBACK_H

// A playback: timed MIDI messages played through one recorder object of a module file
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
#include <utility>
#include <vector>

#include "module_library.h"
#include "smf.h"
#include "stand_in_host.h"

// Bad settings, a message time beyond the host's clock, or an unusable module file: nothing was
// played. quorb-host's checks of the recording file (recording_check.h) throw it too.
class PlaybackError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct Pause {
  double from; // seconds, 0 <= from < to
  double to;
};

struct PlaybackSettings {
  int32_t rate = 44100; // samples per second; the clock ticks once per sample
  int32_t block = 64;   // samples per block
  std::vector<Pause> pauses;
  bool diagnose = false; // the module's diagnostics switch
};

struct PlaybackReport {
  size_t messages = 0;         // delivered to the module, paused ones included
  size_t pausedMessages = 0;   // delivered while "REC" was 0
  size_t recordedMessages = 0; // delivered while "REC" was 1, system messages left out
  uint64_t blocks = 0;
  uint64_t samples = 0; // blocks * block
  double seconds = 0;   // samples / rate
};

// `messages` (in any order; equal times keep theirs) played through a new recorder object from a
// module file into one recording file (appended to when it exists, as the module does). Whether
// the recording reached the file is not its business: the module says nothing either way (see
// quorb-host's recording_check.h).
class Playback {
public:
  // Checks the settings and the message times, and makes a recorder object of `library` that
  // describes a recorder's pins. Throws PlaybackError, having touched no file, when any of them
  // will not do.
  Playback(const ModuleLibrary& library, const std::vector<quorb::TimedMessage>& messages,
           const PlaybackSettings& settings);
  ~Playback(); // closes the object if run never did
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;

  // Opens the object, chooses `outPath` on OUTFILE and plays every block; with `chooseOnly`, no
  // block (the module still makes its attempt at the file). Then closes the object. Once.
  PlaybackReport run(const std::string& outPath, bool chooseOnly = false);

  struct Scheduled {
    uint64_t sample;
    uint32_t word;
  };

private:
  PlaybackSettings settings_;
  std::vector<Scheduled> scheduled_;
  std::vector<std::pair<uint64_t, uint64_t>> paused_; // runs of blocks [first, end) with REC 0
  uint64_t blocks_ = 0;
  StandInHost host_; // outlives the object, which holds its address
  HostedModule module_;
};

// Playback(library, messages, settings).run(outPath).
PlaybackReport play(const ModuleLibrary& library, const std::vector<quorb::TimedMessage>& messages,
                    const std::string& outPath, const PlaybackSettings& settings);

#endif // QUORB_TOOLS_STAND_IN_HOST_PLAYBACK_H
