#include "smf_writer.h"

#include <limits>

namespace quorb {

void appendVlq(std::vector<uint8_t>& out, uint32_t value) {
  uint8_t groups[4];
  int count = 0;
  do {
    groups[count++] = value & 0x7F;
    value >>= 7;
  } while (value != 0);
  while (count > 1)
    out.push_back(groups[--count] | 0x80);
  out.push_back(groups[0]);
}
namespace {

constexpr uint8_t META = 0xFF;
constexpr uint8_t META_END_OF_TRACK = 0x2F;
constexpr uint8_t META_TEXT = 0x01;

void appendBigEndian(std::vector<uint8_t>& out, uint32_t value, int width) {
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
    out.push_back(uint8_t(value >> shift));
}

} // namespace

void TrackEncoder::add(uint64_t tick, const uint8_t* bytes, size_t size) {
  if (tick < tick_) throw SmfError("ticks go backwards");
  while (tick - tick_ > MAX_DELTA) {
    appendVlq(data_, MAX_DELTA);
    data_.insert(data_.end(), {META, META_TEXT, 0x00});
    tick_ += MAX_DELTA;
    ++fillers_;
  }
  appendVlq(data_, uint32_t(tick - tick_));
  data_.insert(data_.end(), bytes, bytes + size);
  tick_ = tick;
}

void TrackEncoder::end() {
  const uint8_t endOfTrack[] = {META, META_END_OF_TRACK, 0x00};
  add(tick_, endOfTrack, sizeof endOfTrack);
}

void writeSmf(const ByteSink& sink, int format, uint16_t ticksPerQuarter,
              const std::vector<const std::vector<uint8_t>*>& tracks) {
  if (format != 0 && format != 1) throw SmfError("only formats 0 and 1 are written");
  if (format == 0 && tracks.size() != 1) throw SmfError("format 0 holds exactly one track");
  if (tracks.empty() || tracks.size() > 0xFFFF) throw SmfError("track count out of range");
  if (ticksPerQuarter == 0 || ticksPerQuarter >= 0x8000)
    throw SmfError("ticks per quarter note must be 1 to 32767");
  for (const std::vector<uint8_t>* data : tracks)
    if (data->size() > std::numeric_limits<uint32_t>::max()) throw SmfError("track too long");

  std::vector<uint8_t> header = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
  appendBigEndian(header, uint32_t(format), 2);
  appendBigEndian(header, uint32_t(tracks.size()), 2);
  appendBigEndian(header, ticksPerQuarter, 2);
  sink(header.data(), header.size());
  for (const std::vector<uint8_t>* data : tracks) {
    std::vector<uint8_t> chunk = {'M', 'T', 'r', 'k'};
    appendBigEndian(chunk, uint32_t(data->size()), 4);
    sink(chunk.data(), chunk.size());
    sink(data->data(), data->size());
  }
}

std::vector<uint8_t> smfBytes(int format, uint16_t ticksPerQuarter,
                              const std::vector<std::vector<uint8_t>>& tracks) {
  std::vector<const std::vector<uint8_t>*> data;
  for (const std::vector<uint8_t>& track : tracks)
    data.push_back(&track);
  std::vector<uint8_t> out;
  writeSmf([&](const uint8_t* bytes, size_t size) { out.insert(out.end(), bytes, bytes + size); },
           format, ticksPerQuarter, data);
  return out;
}

} // namespace quorb
