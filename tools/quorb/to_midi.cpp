#include "to_midi.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace quorb {

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

MidiConverter::MidiConverter(const MidiOptions& options, uint64_t only, bool tempoInEachTrack)
    : options_(options), tempo_(tempoMicros(options)), only_(only),
      tempoInEachTrack_(tempoInEachTrack) {
  fileTick(0, options); // checks rate and ppq once, before any work
}

void MidiConverter::beginTake(uint64_t number) {
  number_ = number;
  converting_ = only_ == 0 || only_ == number;
  if (!converting_) return;
  events_.clear();
  held_ = HeldNotes();
}

void MidiConverter::event(const RecordedEvent& recorded) {
  if (!converting_) return;
  const uint8_t size = uint8_t(channelMessageSize(recorded.message));
  if (size == 0) {
    ++skippedRecords;
    return;
  }
  Pending event{
      fileTick(recorded.placedTicks, options_),
      {uint8_t(recorded.message), uint8_t(recorded.message >> 8), uint8_t(recorded.message >> 16)},
      size};
  if (size == 2) event.bytes[2] = 0;
  // A Note On for a key that still sounds ends the earlier note there, in the file too, so that
  // every program reading it pairs the notes alike.
  const HeldNotes::Change change = held_.apply(recorded.message);
  if (change.ends && change.starts)
    events_.push_back({event.tick, {uint8_t(0x80 | change.channel), change.key, 0x40}, 3});
  events_.push_back(event);
}

void MidiConverter::endTake() {
  if (!converting_) return;
  converting_ = false;
  // Placed ticks are in order already except in files that break the recorder's rules twice
  // over; the stable sort keeps the writer's contract either way.
  std::stable_sort(events_.begin(), events_.end(),
                   [](const Pending& a, const Pending& b) { return a.tick < b.tick; });
  TrackEncoder track;
  const std::string name = "Take " + std::to_string(number_);
  std::vector<uint8_t> meta = {0xFF, 0x03, uint8_t(name.size())};
  meta.insert(meta.end(), name.begin(), name.end());
  track.add(0, meta);
  if (tempoInEachTrack_ || tracks.empty())
    track.add(0, {0xFF, 0x51, 0x03, uint8_t(tempo_ >> 16), uint8_t(tempo_ >> 8), uint8_t(tempo_)});
  for (const Pending& event : events_)
    track.add(event.tick, event.bytes, event.size);
  const uint64_t end = events_.empty() ? 0 : events_.back().tick;
  held_.endAll([&](uint8_t channel, uint8_t key) {
    const uint8_t off[] = {uint8_t(0x80 | channel), key, 0x40};
    track.add(end, off, sizeof off);
    ++closedNotes;
  });
  track.end();
  fillerEvents += track.fillers();
  events_ = std::vector<Pending>(); // give the memory back before the next take
  tracks.push_back({number_, std::move(track.data())});
}

void MidiConverter::addEmptyTrack(uint64_t number) {
  beginTake(number);
  converting_ = true;
  endTake();
}

MidiConversion toMidi(const std::vector<Take>& takes, const MidiOptions& options,
                      size_t firstNumber) {
  MidiConverter converter(options);
  for (size_t i = 0; i < takes.size(); ++i) {
    converter.beginTake(firstNumber + i);
    for (const RecordedEvent& event : takes[i].events)
      converter.event(event);
    converter.endTake();
  }
  if (takes.empty()) converter.addEmptyTrack(firstNumber);
  MidiConversion result;
  result.format = formatFor(converter.tracks.size());
  for (MidiConverter::Track& track : converter.tracks)
    result.tracks.push_back(std::move(track.data));
  result.skippedRecords = converter.skippedRecords;
  result.closedNotes = converter.closedNotes;
  return result;
}

} // namespace quorb
