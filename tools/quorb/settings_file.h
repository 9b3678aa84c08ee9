#ifndef QUORB_TOOLS_QUORB_SETTINGS_FILE_H
#define QUORB_TOOLS_QUORB_SETTINGS_FILE_H

// quorb's settings file, quorb.ini beside the program: the host's clock rate, for every command
// not given --rate. It holds lines "rate = 48000"; blank lines and lines starting with # or ; are
// skipped. A file that says anything else is refused in words (FileError, exit 1), never passed
// over: a rate misread would convert every take at the wrong speed without a word.

#include <optional>
#include <string>

#include "settings.h"

namespace quorb {

inline const char* const SETTINGS_FILE_NAME = "quorb.ini";

// The settings file beside the running program; empty when the system will not say where that
// is.
std::string settingsFilePath();

// The rate the file at `path` sets; nothing when there is no such file or it sets none.
std::optional<double> readSettingsRate(const std::string& path);

// Writes the file at `path` afresh, holding `rate`, whole or not at all. FileError in words,
// with what to do, when the folder may not be written.
void writeSettingsRate(const std::string& path, double rate);

// Takes the rate from the settings file at `path` when the command line gave none; throws
// FileError when that file is broken.
void applySettingsFile(Settings& settings, const std::string& path);

// What a run not given --rate says once: the rate taken, where it came from, how to change it.
// Empty when --rate was given.
std::string rateNote(const Settings& settings);

// `quorb set NAME [VALUE]`: with a VALUE, writes it to the settings file at `path`; without,
// says what is set and where it comes from. NAME is "rate", in any case.
void setSetting(const std::string& path, const std::string& name,
                const std::optional<std::string>& value, std::ostream& out);

} // namespace quorb

#endif // QUORB_TOOLS_QUORB_SETTINGS_FILE_H
