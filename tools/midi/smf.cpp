#include "smf.h"
#include "smf_writer.h"

#include "files.h"

#include <algorithm>
#include <sstream>

namespace quorb {
namespace {

constexpr uint8_t META = 0xFF;
constexpr uint8_t META_END_OF_TRACK = 0x2F;
constexpr uint8_t META_TEMPO = 0x51;
constexpr uint32_t DEFAULT_TEMPO = 500000; // microseconds per quarter note: 120 bpm

[[noreturn]] void fail(const std::string& what, size_t offset) {
  std::ostringstream text;
  text << what << " at byte " << offset;
  throw SmfError(text.str());
}

// Data bytes that follow a channel status: Program Change and Channel Pressure carry one.
int dataLength(uint8_t status) {
  const uint8_t kind = status & 0xF0;
  return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

// Reads within [pos, end); every read checks the bound first, so a damaged length can at worst
// produce an error naming the offset.
class Cursor {
public:
  Cursor(const std::vector<uint8_t>& bytes, size_t pos, size_t end)
      : bytes_(bytes), pos_(pos), end_(end) {}

  size_t pos() const { return pos_; }
  bool atEnd() const { return pos_ >= end_; }

  uint8_t byte(const char* what) {
    if (pos_ >= end_) fail(std::string("unexpected end of data reading ") + what, pos_);
    return bytes_[pos_++];
  }

  uint8_t peek(const char* what) {
    const uint8_t b = byte(what);
    --pos_;
    return b;
  }

  uint32_t bigEndian(int width, const char* what) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i)
      value = value << 8 | byte(what);
    return value;
  }

  uint32_t vlq(const char* what) {
    const size_t start = pos_;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const uint8_t b = byte(what);
      value = value << 7 | (b & 0x7F);
      if (!(b & 0x80)) return value;
    }
    fail(std::string("variable-length ") + what + " longer than four bytes", start);
  }

  void skip(uint32_t count, const char* what) {
    if (count > end_ - pos_) fail(std::string(what) + " runs past the end of its chunk", pos_);
    pos_ += count;
  }

  std::vector<uint8_t> take(uint32_t count, const char* what) {
    const size_t start = pos_;
    skip(count, what);
    return std::vector<uint8_t>(bytes_.begin() + static_cast<std::ptrdiff_t>(start),
                                bytes_.begin() + static_cast<std::ptrdiff_t>(pos_));
  }

private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_;
  size_t end_;
};

} // namespace

namespace {

SmfTrack parseTrack(const std::vector<uint8_t>& bytes, size_t begin, size_t end) {
  SmfTrack track;
  Cursor in(bytes, begin, end);
  uint64_t tick = 0;
  uint8_t runningStatus = 0; // 0: none yet
  while (!in.atEnd()) {
    tick += in.vlq("delta time");
    const size_t eventStart = in.pos();
    uint8_t status = in.peek("event");
    if (status < 0x80) {
      // Running status: the byte read is the first data byte of a message like the last one.
      if (runningStatus == 0) fail("data byte without a status", eventStart);
      status = runningStatus;
    } else {
      in.byte("event");
    }
    if (status < 0xF0) {
      runningStatus = status;
      SmfEvent event{tick, {status}};
      for (int i = 0; i < dataLength(status); ++i) {
        const size_t at = in.pos();
        const uint8_t data = in.byte("channel message");
        if (data >= 0x80) fail("status byte where a data byte belongs", at);
        event.bytes.push_back(data);
      }
      track.events.push_back(std::move(event));
    } else if (status == 0xF0 || status == 0xF7) {
      in.skip(in.vlq("system exclusive length"), "system exclusive event");
    } else if (status == META) {
      const uint8_t type = in.byte("meta event type");
      if (type >= 0x80) fail("meta event type above 0x7F", eventStart + 1);
      const uint32_t length = in.vlq("meta event length");
      const std::vector<uint8_t> data = in.take(length, "meta event");
      if (type == META_TEMPO && (length != 3 || (data[0] | data[1] | data[2]) == 0))
        fail("tempo event without a three-byte non-zero tempo", eventStart);
      SmfEvent event{tick, {META, type}};
      appendVlq(event.bytes, length);
      event.bytes.insert(event.bytes.end(), data.begin(), data.end());
      track.events.push_back(std::move(event));
      // Whatever follows End-of-Track inside the chunk is not part of the track.
      if (type == META_END_OF_TRACK) break;
    } else {
      fail("system real-time or common status in a track", eventStart);
    }
  }
  return track;
}

} // namespace

SmfFile parseSmf(const std::vector<uint8_t>& bytes) {
  Cursor header(bytes, 0, bytes.size());
  if (bytes.size() < 4 || !std::equal(bytes.begin(), bytes.begin() + 4, "MThd"))
    fail("not a Standard MIDI File: no MThd header", 0);
  header.skip(4, "header");
  const uint32_t headerLength = header.bigEndian(4, "header length");
  if (headerLength < 6) fail("header chunk shorter than six bytes", 4);
  SmfFile file;
  const size_t headerData = header.pos();
  file.format = int(header.bigEndian(2, "format"));
  const uint32_t trackCount = header.bigEndian(2, "track count");
  const uint32_t division = header.bigEndian(2, "division");
  if (file.format == 2) fail("format 2 (independent sequences) is not supported", headerData);
  if (file.format > 2) fail("unknown format " + std::to_string(file.format), headerData);
  if (file.format == 0 && trackCount != 1)
    fail("format 0 with other than one track", headerData + 2);
  if (division & 0x8000) fail("SMPTE time division is not supported", headerData + 4);
  if (division == 0) fail("zero ticks per quarter note", headerData + 4);
  file.ticksPerQuarter = uint16_t(division);
  header.skip(headerLength - 6, "header chunk");

  size_t pos = header.pos();
  while (pos < bytes.size() && file.tracks.size() < trackCount) {
    if (bytes.size() - pos < 8) fail("truncated chunk header", pos);
    Cursor chunk(bytes, pos + 4, bytes.size());
    const uint32_t length = chunk.bigEndian(4, "chunk length");
    const size_t dataStart = pos + 8;
    if (length > bytes.size() - dataStart) fail("chunk runs past the end of the file", pos);
    // Chunks of other types are allowed by the format and carry nothing read here.
    if (std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                   bytes.begin() + static_cast<std::ptrdiff_t>(pos + 4), "MTrk"))
      file.tracks.push_back(parseTrack(bytes, dataStart, dataStart + length));
    pos = dataStart + length;
  }
  if (file.tracks.size() < trackCount)
    fail("header announces " + std::to_string(trackCount) + " tracks, file holds " +
             std::to_string(file.tracks.size()),
         pos);
  return file;
}

SmfFile readSmf(const std::string& path) {
  const std::vector<uint8_t> bytes = readWholeFile(path, "MIDI file");
  try {
    return parseSmf(bytes);
  } catch (const SmfError& error) {
    throw SmfError(path + ": " + error.what());
  }
}

std::vector<TimedMessage> timedChannelMessages(const SmfFile& file) {
  struct TempoChange {
    uint64_t tick;
    uint32_t microsPerQuarter;
  };
  struct Pending {
    uint64_t tick;
    uint32_t word;
  };
  std::vector<TempoChange> tempos;
  std::vector<Pending> messages;
  for (const SmfTrack& track : file.tracks) {
    for (const SmfEvent& event : track.events) {
      const std::vector<uint8_t>& b = event.bytes;
      // Files built by hand rather than parsed may hold anything; only well-formed events count.
      if (b.size() == 6 && b[0] == META && b[1] == META_TEMPO && b[2] == 3) {
        const uint32_t micros = uint32_t(b[3]) << 16 | uint32_t(b[4]) << 8 | b[5];
        if (micros != 0) tempos.push_back({event.tick, micros});
      } else if (b.size() >= 2 && b[0] >= 0x80 && b[0] < 0xF0) {
        messages.push_back({event.tick, packMessage(b[0], b[1], b.size() > 2 ? b[2] : 0)});
      }
    }
  }
  // Tracks were appended in order, so a stable sort by tick keeps track order, then file order.
  // Of several tempo events at one tick the last in that order wins.
  const auto byTick = [](const auto& a, const auto& b) { return a.tick < b.tick; };
  std::stable_sort(tempos.begin(), tempos.end(), byTick);
  std::stable_sort(messages.begin(), messages.end(), byTick);

  const double ticksPerQuarter = file.ticksPerQuarter;
  uint64_t segmentTick = 0;
  double segmentSeconds = 0;
  uint32_t tempo = DEFAULT_TEMPO;
  size_t nextTempo = 0;
  std::vector<TimedMessage> out;
  out.reserve(messages.size());
  for (const Pending& message : messages) {
    while (nextTempo < tempos.size() && tempos[nextTempo].tick <= message.tick) {
      const TempoChange& change = tempos[nextTempo++];
      segmentSeconds += double(change.tick - segmentTick) * tempo / 1e6 / ticksPerQuarter;
      segmentTick = change.tick;
      tempo = change.microsPerQuarter;
    }
    const double seconds =
        segmentSeconds + double(message.tick - segmentTick) * tempo / 1e6 / ticksPerQuarter;
    out.push_back({seconds, message.word});
  }
  return out;
}

std::vector<TimedMessage> readChannelMessages(const std::string& path) {
  return timedChannelMessages(readSmf(path));
}

} // namespace quorb
