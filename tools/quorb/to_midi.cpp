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

namespace {

// `ppq`, doubled while a tick of a quarter lasting `micros` would last over 1.98 ms, as far as
// a MIDI file's 32767 allows.
uint16_t finerFor(uint32_t micros, uint16_t ppq) {
  while (double(micros) / ppq > 1980 && ppq <= 32767 / 2)
    ppq = uint16_t(ppq * 2);
  return ppq;
}

} // namespace

MidiConverter::MidiConverter(const MidiOptions& options, uint64_t only, bool tempoInEachTrack)
    : options_(options), tempo_(tempoMicros(options)), only_(only),
      tempoInEachTrack_(tempoInEachTrack) {
  fileTick(0, options); // checks rate and ppq once, before any work
  if (options_.finerForSlowQuarters && options_.grid.plain)
    options_.ppq = finerFor(tempo_, options_.ppq);
}

void MidiConverter::beginTake(uint64_t number) {
  number_ = number;
  converting_ = only_ == 0 || only_ == number;
  if (!converting_) return;
  events_.clear();
  held_ = HeldNotes();
  notes_ = NoteCollector();
}

void MidiConverter::event(const RecordedEvent& recorded) {
  if (!converting_) return;
  const uint8_t size = uint8_t(channelMessageSize(recorded.message));
  if (size == 0) {
    ++skippedRecords;
    return;
  }
  Pending event{
      recorded.placedTicks,
      {uint8_t(recorded.message), uint8_t(recorded.message >> 8), uint8_t(recorded.message >> 16)},
      size};
  if (size == 2) event.bytes[2] = 0;
  // A Note On for a key that still sounds ends the earlier note there, in the file too, so that
  // every program reading it pairs the notes alike.
  const HeldNotes::Change change = held_.apply(recorded.message);
  if (!options_.grid.plain)
    notes_.add(double(recorded.placedTicks) / options_.rate, recorded.message, change);
  if (change.ends && change.starts)
    events_.push_back({event.ticks, {uint8_t(0x80 | change.channel), change.key, 0x40}, 3});
  events_.push_back(event);
}

uint64_t MidiConverter::tickOf(uint64_t ticks) const {
  return map_ ? map_->tickAt(double(ticks) / options_.rate) : fileTick(ticks, options_);
}

namespace {

// The map's Set Tempo and Time Signature events, in tick order.
std::vector<std::pair<uint64_t, std::vector<uint8_t>>> mapEvents(const TempoMap& map) {
  std::vector<std::pair<uint64_t, std::vector<uint8_t>>> out;
  for (const MeterChange& meter : map.meters()) {
    uint8_t power = 0;
    while ((1 << power) < meter.denominator)
      ++power;
    // MIDI clocks per metronome click: a quarter, or a dotted quarter in compound meters.
    const uint8_t clocks = meter.denominator == 8 && meter.numerator % 3 == 0 ? 36 : 24;
    out.push_back({meter.tick, {0xFF, 0x58, 0x04, uint8_t(meter.numerator), power, clocks, 8}});
  }
  for (const TempoChange& tempo : map.tempos()) {
    const uint32_t us = tempo.microsPerQuarter;
    out.push_back(
        {tempo.tick, {0xFF, 0x51, 0x03, uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)}});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return out;
}

} // namespace

void MidiConverter::endTake() {
  if (!converting_) return;
  converting_ = false;
  // Placed ticks are in order already except in files that break the recorder's rules twice
  // over; the stable sort keeps the writer's contract either way, and only those pay for its
  // buffer, as large as the take's events.
  const auto earlier = [](const Pending& a, const Pending& b) { return a.ticks < b.ticks; };
  if (!std::is_sorted(events_.begin(), events_.end(), earlier))
    std::stable_sort(events_.begin(), events_.end(), earlier);
  const bool carriesMap = tempoInEachTrack_ || tracks.empty();
  if (!options_.grid.plain && (carriesMap || !map_)) {
    const double end = events_.empty() ? 0 : double(events_.back().ticks) / options_.rate;
    const Grid grid = takeGrid(notes_.finish(end), options_.grid);
    map_.emplace(grid, options_.ppq);
    if (options_.finerForSlowQuarters) {
      uint32_t slowest = 0;
      for (const TempoChange& tempo : map_->tempos())
        slowest = std::max(slowest, tempo.microsPerQuarter);
      // Each file of a split finds its own; one file's later takes are placed through this map.
      const uint16_t ppq = finerFor(slowest, options_.ppq);
      if (ppq != map_->ppq()) map_.emplace(grid, ppq);
    }
    grids.push_back({number_, summarize(grid, false, end)});
  }
  notes_ = NoteCollector();
  TrackEncoder track;
  const std::string name = "Take " + std::to_string(number_);
  std::vector<uint8_t> meta = {0xFF, 0x03, uint8_t(name.size())};
  meta.insert(meta.end(), name.begin(), name.end());
  track.add(0, meta);
  std::vector<std::pair<uint64_t, std::vector<uint8_t>>> metas;
  if (carriesMap && map_)
    metas = mapEvents(*map_);
  else if (carriesMap)
    metas.push_back(
        {0, {0xFF, 0x51, 0x03, uint8_t(tempo_ >> 16), uint8_t(tempo_ >> 8), uint8_t(tempo_)}});
  // The map's events and the take's messages merged by tick, the map's first at a tick.
  size_t nextMeta = 0;
  uint64_t end = 0;
  for (const Pending& event : events_) {
    const uint64_t tick = tickOf(event.ticks);
    for (; nextMeta < metas.size() && metas[nextMeta].first <= tick; ++nextMeta)
      track.add(metas[nextMeta].first, metas[nextMeta].second);
    track.add(tick, event.bytes, event.size);
    end = tick;
  }
  held_.endAll([&](uint8_t channel, uint8_t key) {
    const uint8_t off[] = {uint8_t(0x80 | channel), key, 0x40};
    track.add(end, off, sizeof off);
    ++closedNotes;
  });
  // The whole map, its last beats past the last message included: the other takes' tracks of
  // the file are placed through it.
  for (; nextMeta < metas.size(); ++nextMeta)
    track.add(metas[nextMeta].first, metas[nextMeta].second);
  track.end();
  fillerEvents += track.fillers();
  events_ = std::vector<Pending>(); // give the memory back before the next take
  tracks.push_back({number_, std::move(track.data()), map_ ? map_->ppq() : options_.ppq});
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
