#ifndef QUORB_TOOLS_QUORB_SETTINGS_H
#define QUORB_TOOLS_QUORB_SETTINGS_H

// The options of a quorb run: as the command line gave them, and as the commands use them,
// parsed once per run whatever the number of files.

#include <cstdint>
#include <optional>
#include <string>

#include "to_midi.h"

namespace quorb {

struct OptionTexts {
  std::optional<std::string> rate;
  std::optional<std::string> ppq; // not given: 960, finer for slow quarters
  std::optional<std::string> bpm; // given: a plain constant tempo
  std::optional<std::string> take;
  bool split = false;
  std::optional<std::string> tempo; // the grid's known tempo
  std::optional<std::string> meter; // the grid's given meter, "3/4"
  bool plain = false;
};

struct Settings {
  std::optional<double> rate; // given by --rate or the settings file; else DEFAULT_RATE is used
  std::string rateFile;       // the settings file the rate came from; empty for --rate or none
  MidiOptions midi;           // its rate is the rate given or DEFAULT_RATE; midi.grid: how a
                              // take's time is written, for every command
  uint64_t take = 0;          // from 1; 0 for every take
  bool split = false;
};

// Throws UsageError saying in words which option is wrong and what it takes.
Settings parseSettings(const OptionTexts& texts);

} // namespace quorb

#endif // QUORB_TOOLS_QUORB_SETTINGS_H
