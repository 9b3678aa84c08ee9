#include "to_midi.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace quorb {
namespace {

std::vector<uint8_t> metaEvent(uint8_t type, const std::string& data) {
  std::vector<uint8_t> bytes = {0xFF, type, uint8_t(data.size())}; // callers keep it below 128
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

// The event bytes of a recorded word, or nothing when it is not a well-formed channel message.
std::vector<uint8_t> channelEvent(uint32_t word) {
  const uint8_t status = word & 0xFF;
  const uint8_t data1 = (word >> 8) & 0xFF;
  const uint8_t data2 = (word >> 16) & 0xFF;
  if (status < 0x80 || status >= 0xF0 || data1 >= 0x80) return {};
  const uint8_t kind = status & 0xF0;
  if (kind == 0xC0 || kind == 0xD0) return {status, data1};
  if (data2 >= 0x80) return {};
  return {status, data1, data2};
}

SmfTrack convertRecording(const Recording& recording, size_t number, bool withTempo,
                          const MidiOptions& options, MidiConversion& totals) {
  SmfTrack track;
  track.events.push_back({0, metaEvent(0x03, "Recording " + std::to_string(number))});
  if (withTempo) {
    const uint32_t micros = tempoMicros(options);
    track.events.push_back(
        {0, {0xFF, 0x51, 0x03, uint8_t(micros >> 16), uint8_t(micros >> 8), uint8_t(micros)}});
  }
  // Notes sounding per channel and key; a Note On while sounding stacks, so each On gets its Off.
  std::vector<uint32_t> sounding(16 * 128, 0);
  std::vector<SmfEvent> events;
  for (const RecordedEvent& recorded : recording.events) {
    std::vector<uint8_t> bytes = channelEvent(recorded.message);
    if (bytes.empty()) {
      ++totals.skippedRecords;
      continue;
    }
    const uint8_t kind = bytes[0] & 0xF0;
    uint32_t& count = sounding[size_t(bytes[0] & 0x0F) * 128 + bytes[1]];
    if (kind == 0x90 && bytes[2] > 0) {
      ++count;
    } else if ((kind == 0x80 || kind == 0x90) && count > 0) {
      --count;
    }
    events.push_back({fileTick(recorded.placedTicks, options), std::move(bytes)});
  }
  // Placed ticks are in order already except in files that break the recorder's rules twice
  // over; the stable sort keeps the writer's contract either way.
  std::stable_sort(events.begin(), events.end(),
                   [](const SmfEvent& a, const SmfEvent& b) { return a.tick < b.tick; });
  const uint64_t end = events.empty() ? 0 : events.back().tick;
  for (size_t key = 0; key < sounding.size(); ++key) {
    for (uint32_t i = 0; i < sounding[key]; ++i) {
      events.push_back({end, {uint8_t(0x80 | key / 128), uint8_t(key % 128), 0x40}});
      ++totals.closedNotes;
    }
  }
  track.events.insert(track.events.end(), events.begin(), events.end());
  return track;
}

} // namespace

uint32_t tempoMicros(const MidiOptions& options) {
  if (!(options.bpm > 0) || !std::isfinite(options.bpm))
    throw std::invalid_argument("bpm must be a positive number");
  const double micros = std::round(60e6 / options.bpm);
  if (micros < 1 || micros > 0xFFFFFF)
    throw std::invalid_argument("bpm out of range: a quarter note must last 1 to 16777215 us");
  return uint32_t(micros);
}

uint64_t fileTick(uint64_t ticks, const MidiOptions& options) {
  if (!(options.rate > 0) || !std::isfinite(options.rate))
    throw std::invalid_argument("rate must be a positive number");
  if (options.ppq == 0 || options.ppq >= 0x8000)
    throw std::invalid_argument("ppq must be 1 to 32767");
  const long double seconds = static_cast<long double>(ticks) / options.rate;
  const long double tick = std::round(seconds * 1e6L * options.ppq / tempoMicros(options));
  if (tick >= 18446744073709551615.0L)
    throw std::invalid_argument("time too large for a MIDI file");
  return uint64_t(tick);
}

MidiConversion toMidi(const std::vector<Recording>& recordings, const MidiOptions& options,
                      size_t firstNumber) {
  tempoMicros(options);
  fileTick(0, options); // checks rate and ppq once, before any work
  MidiConversion result;
  result.format = recordings.size() > 1 ? 1 : 0;
  for (size_t i = 0; i < recordings.size(); ++i)
    result.tracks.push_back(
        convertRecording(recordings[i], firstNumber + i, i == 0, options, result));
  if (recordings.empty())
    result.tracks.push_back(convertRecording({}, firstNumber, true, options, result));
  return result;
}

} // namespace quorb
