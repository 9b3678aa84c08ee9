#ifndef QUORB_TOOLS_QUORB_COMMANDS_H
#define QUORB_TOOLS_QUORB_COMMANDS_H

// The quorb commands, one file each. Each throws UsageError or FileError (tool_support.h) in
// words; quorb's main turns them into exit codes. Reports go to standard output, warnings to
// standard error, every line after "quorb: " but the commands' own listings.

#include <ostream>
#include <string>

#include "report.h"
#include "settings.h"

namespace quorb {

// A line per record, take by take; seconds too when a rate was given, on the command line or by
// the settings file.
void dump(const std::string& file, const Settings& settings, RunNotes& notes);

// How many takes, how long each, what was skipped and the warnings.
void info(const std::string& file, const Settings& settings, RunNotes& notes);

// The takes of `in` to MIDI files. `named` is the OUT the user gave, empty for none: then
// FILE.mid beside `in`, or the next free name, as for every --split name; "-" is standard
// output. Only a named OUT replaces a file, and only a MIDI file.
void convert(const std::string& in, const std::string& named, const Settings& settings,
             RunNotes& notes);

// Every take of `in` as a piano roll in one picture page, under the same rules for OUT as
// convert: FILE.html beside `in` by default.
void view(const std::string& in, const std::string& named, const Settings& settings,
          RunNotes& notes);

// `quorb help TOPIC`: the file format and its rules (TOPIC "format").
void helpTopic(const std::string& topic, std::ostream& out);

} // namespace quorb

#endif // QUORB_TOOLS_QUORB_COMMANDS_H
