#ifndef QUORB_TOOLS_MIDI_SMF_H
#define QUORB_TOOLS_MIDI_SMF_H

// Standard MIDI Files: the project's own reader and writer (no packaged C++ library reads them).

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorb {

// A channel message packed as the host delivers it to the module: status byte in bits 0-7,
// first data byte in bits 8-15, second in bits 16-23, bits 24-31 zero.
constexpr uint32_t packMessage(uint8_t status, uint8_t data1, uint8_t data2) {
  return uint32_t(status) | uint32_t(data1) << 8 | uint32_t(data2) << 16;
}

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
// Throws SmfError, saying what and at which byte offset, for a file that is not a whole SMF.
std::vector<TimedMessage> readChannelMessages(const std::string& path);

struct SmfEvent {
  uint64_t tick;              // absolute, in the file's ticks per quarter note
  std::vector<uint8_t> bytes; // a whole event without running status: a channel message, or a
                              // meta event as FF type length data
};

struct SmfTrack {
  std::vector<SmfEvent> events; // in tick order; End-of-Track is added by the writer
};

// Writes format 0 (one track) or 1 with the given division; every event carries its own status.
// The file is replaced whole or not at all. Throws SmfError when the arguments do not form a
// valid file, FileError (tool_support.h) when it cannot be written.
void writeSmf(const std::string& path, int format, uint16_t ticksPerQuarter,
              const std::vector<SmfTrack>& tracks);

// Builds the data of one track chunk from whole events (no running status) given in tick order.
// A gap longer than one delta time can hold (0x0FFFFFFF ticks) is carried across by filler
// events, empty text meta events (FF 01 00), so that any time can be written.
class TrackEncoder {
public:
  static constexpr uint32_t MAX_DELTA = 0x0FFFFFFF; // four 7-bit groups

  void add(uint64_t tick, const uint8_t* bytes, size_t size); // tick not before the last one
  void add(uint64_t tick, const std::vector<uint8_t>& bytes) {
    add(tick, bytes.data(), bytes.size());
  }
  // End-of-Track at the last event's tick; once, and nothing may follow.
  void end();
  uint64_t tick() const { return tick_; }
  uint64_t fillers() const { return fillers_; }
  std::vector<uint8_t>& data() { return data_; }

private:
  std::vector<uint8_t> data_;
  uint64_t tick_ = 0;
  uint64_t fillers_ = 0;
};

// The 14-byte header chunk, and the 8 bytes that open a track chunk of `length` data bytes.
std::vector<uint8_t> smfHeader(int format, size_t trackCount, uint16_t ticksPerQuarter);
std::vector<uint8_t> trackChunkHeader(size_t length);

// The whole file, for callers that need its ticks rather than seconds. Each track holds its
// channel-voice and meta events in file order, End-of-Track included when the file has one;
// system exclusive events are read past.
struct SmfFile {
  int format = 0;
  uint16_t ticksPerQuarter = 0;
  std::vector<SmfTrack> tracks;
};

// Both throw SmfError as readChannelMessages does.
SmfFile readSmf(const std::string& path);
SmfFile parseSmf(const std::vector<uint8_t>& bytes);

// The channel-voice messages of a parsed file merged and timed as readChannelMessages returns them.
std::vector<TimedMessage> timedChannelMessages(const SmfFile& file);

// The bytes writeSmf writes, under the same rules. A track may end with its own End-of-Track (as
// readSmf returns it); it is kept rather than doubled, and is refused anywhere else.
std::vector<uint8_t> encodeSmf(int format, uint16_t ticksPerQuarter,
                               const std::vector<SmfTrack>& tracks);

} // namespace quorb

#endif // QUORB_TOOLS_MIDI_SMF_H
