#ifndef QUORB_TOOLS_MIDI_SMF_WRITER_H
#define QUORB_TOOLS_MIDI_SMF_WRITER_H

// Writing Standard MIDI Files, the one way quorb writes them: each track's chunk data is built by
// a TrackEncoder, and writeSmf puts the header and the chunks out to a file, a stream or memory.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "smf.h"

namespace quorb {

// Appends `value` as a variable-length quantity: 7 bits a byte, most significant first.
void appendVlq(std::vector<uint8_t>& out, uint32_t value);

// Builds the data of one track chunk from whole events (no running status) given in tick order.
// A gap longer than one delta time can hold (0x0FFFFFFF ticks) is carried across by filler
// events, empty text meta events (FF 01 00), so that any time can be written.
class TrackEncoder {
public:
  static constexpr uint32_t MAX_DELTA = 0x0FFFFFFF; // four 7-bit groups

  // Throws SmfError for a tick before the last one.
  void add(uint64_t tick, const uint8_t* bytes, size_t size);
  void add(uint64_t tick, const std::vector<uint8_t>& bytes) {
    add(tick, bytes.data(), bytes.size());
  }
  // End-of-Track at the last event's tick; once, and nothing may follow.
  void end();
  uint64_t fillers() const { return fillers_; }
  std::vector<uint8_t>& data() { return data_; }

private:
  std::vector<uint8_t> data_;
  uint64_t tick_ = 0;
  uint64_t fillers_ = 0;
};

// Where the bytes of a file go, in order.
using ByteSink = std::function<void(const uint8_t* data, size_t size)>;

// The format a file of `tracks` tracks is written in: 0 for one track, 1 for more.
inline int formatFor(size_t tracks) { return tracks > 1 ? 1 : 0; }

// Writes a file of format 0 (exactly one track) or 1: the header with the given division, then a
// chunk per track holding that track's data as a TrackEncoder built it. Throws SmfError, before
// the first byte goes out, when these do not form a valid file.
void writeSmf(const ByteSink& sink, int format, uint16_t ticksPerQuarter,
              const std::vector<const std::vector<uint8_t>*>& tracks);

// writeSmf into memory.
std::vector<uint8_t> smfBytes(int format, uint16_t ticksPerQuarter,
                              const std::vector<std::vector<uint8_t>>& tracks);

} // namespace quorb

#endif // QUORB_TOOLS_MIDI_SMF_WRITER_H
