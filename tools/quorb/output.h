#ifndef QUORB_TOOLS_QUORB_OUTPUT_H
#define QUORB_TOOLS_QUORB_OUTPUT_H

// Where quorb's MIDI files and pictures go, checked in one place before anything is written: no
// file the user did not name is replaced, a named one only when it is of the kind written (a
// MIDI file, a picture page), the recording never, and binary output never goes to a console.

#include <cstdint>
#include <string>
#include <vector>

#include "to_midi.h"

namespace quorb {

// The OUT that names standard output.
inline const std::string STDOUT_NAME = "-";

struct Destination {
  std::string name;
  std::string wanted;    // the name it would have had, had it been free
  bool direct = false;   // standard output, a device or a pipe: written straight, not replaced
  bool replace = false;  // an existing file of that name may be replaced (a named OUT)
  bool replaces = false; // a named OUT that is there already: the report says "replaced"
};

struct Output : Destination {
  std::vector<const MidiConverter::Track*> tracks;
};

// Refuses, before the recording is read, an OUT the user named that cannot be: standard output
// with --split, or standard output that is a console (UsageError).
void checkNamedOutput(const std::string& in, const std::string& named, bool split);

// Names and checks the files a conversion of `in` writes: one for all tracks, or one per track
// with `split`. `named` is the OUT the user gave, empty for none, already past checkNamedOutput.
// Throws UsageError or FileError before any is written.
std::vector<Output> planOutputs(const std::string& in, const std::string& named, bool split,
                                const std::vector<MidiConverter::Track>& tracks);

// Names and checks where `quorb view` draws `in`: OUT named, else FILE.html beside `in` (the next
// free name when that is taken). Throws UsageError or FileError before anything is written.
Destination pictureDestination(const std::string& in, const std::string& named);

// How a report says where it wrote: "wrote" the file or standard output, with the name it could
// not take when that was there already, or "replaced" a named OUT that was there.
std::string wrote(const Destination& destination);

// Writes `text` to the destination, a file whole or not at all.
void writeText(const Destination& destination, const std::string& text);

// Writes the output's tracks as a MIDI file: format 0 for one track, 1 for more. A file is
// written whole or not at all (AtomicFile); a direct output is written as it goes.
void writeOutput(const Output& output, uint16_t ticksPerQuarter);

} // namespace quorb

#endif // QUORB_TOOLS_QUORB_OUTPUT_H
