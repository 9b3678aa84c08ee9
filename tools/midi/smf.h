#ifndef QUORB_TOOLS_MIDI_SMF_H
#define QUORB_TOOLS_MIDI_SMF_H

// Reading Standard MIDI Files: the project's own reader (no packaged C++ library reads them).
// smf_writer.h writes them; message.h says what a message is.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "message.h"

namespace quorb {

struct TimedMessage {
  double seconds; // from the start of the file, tempo changes applied
  uint32_t word;  // packMessage of a channel-voice message (status 0x80-0xEF)
};

class SmfError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Reads a type 0 or type 1 file and returns its channel-voice messages (running status
// resolved), all tracks merged in time order; equal times keep track order, then file order.
// System exclusive and meta events are read past, tempo events honoured (default 120 bpm).
// Throws SmfError, saying what and at which byte offset, for a file that is not a whole SMF, and
// FileError for a file it cannot read.
std::vector<TimedMessage> readChannelMessages(const std::string& path);

struct SmfEvent {
  uint64_t tick;              // absolute, in the file's ticks per quarter note
  std::vector<uint8_t> bytes; // a whole event without running status: a channel message, or a
                              // meta event as FF type length data
};

struct SmfTrack {
  std::vector<SmfEvent> events; // in tick order
};

// The whole file, for callers that need its ticks rather than seconds. Each track holds its
// channel-voice and meta events in file order, End-of-Track included when the file has one;
// system exclusive events are read past.
struct SmfFile {
  int format = 0;
  uint16_t ticksPerQuarter = 0;
  std::vector<SmfTrack> tracks;
};

// Both throw SmfError as readChannelMessages does; readSmf throws FileError for a file it cannot
// read.
SmfFile readSmf(const std::string& path);
SmfFile parseSmf(const std::vector<uint8_t>& bytes);

// The channel-voice messages of a parsed file merged and timed as readChannelMessages returns them.
std::vector<TimedMessage> timedChannelMessages(const SmfFile& file);

} // namespace quorb

#endif // QUORB_TOOLS_MIDI_SMF_H
