#include "recording.h"

#include "utf8.h"

#include <algorithm>
#include <sstream>
#include <string>

namespace quorb {

namespace {

constexpr uint64_t WRAP = uint64_t(1) << 32;

uint32_t littleEndian(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

std::string hex(uint32_t value, int digits) {
  std::ostringstream text;
  text << "0x" << std::uppercase << std::hex;
  text.width(digits);
  text.fill('0');
  text << value;
  return text.str();
}

// Applies the takes rule to the records read, in file order, and hands them on. A run (the
// records at the end of the current take that share one ticks value) is held back until the
// record after it shows whether it stands ahead; ahead runs wait for the first run that does not.
class TakeAssembler {
public:
  TakeAssembler(RecordingSink& sink, ReadTotals& totals) : sink_(sink), totals_(totals) {}

  void record(uint64_t index, uint64_t offset, uint32_t time, uint32_t message) {
    if (isSystemMessage(message)) {
      sink_.warning({RecordingWarning::Kind::SystemStatus, offset + 4,
                     "record " + std::to_string(index) + " at byte " + std::to_string(offset) +
                         " has system status " + hex(message & 0xFF, 2) +
                         ", which the recorder never writes: the file was altered"});
    }
    if (isPlausibleMessage(message)) ++totals_.channelMessages;

    bool startsTake = !inTake_;
    if (!startsTake && time < previousTime_) {
      if (previousTime_ >= WRAP_HIGH_QUARTER && time < WRAP_LOW_QUARTER) {
        wrapOffset_ += WRAP;
      } else if (haveBeforeRun_ && wrapOffset_ + time >= beforeRunTicks_) {
        for (size_t r = runStart_; r < pending_.size(); ++r)
          pending_[r].ahead = true;
        sink_.warning({RecordingWarning::Kind::TimeBackwards, offset,
                       "time goes backwards at record " + std::to_string(index) + " (byte " +
                           std::to_string(offset) + "): " + std::to_string(time) + " after " +
                           std::to_string(previousTime_) +
                           "; read as stamped at the end of a pause, still in take " +
                           std::to_string(totals_.takes)});
      } else {
        startsTake = true;
      }
    }
    if (startsTake) {
      finish();
      inTake_ = true;
      sink_.beginTake(++totals_.takes);
      wrapOffset_ = 0;
      haveBeforeRun_ = false;
    }
    const uint64_t ticks = wrapOffset_ + time;
    if (hasEvents_ && ticks != previousTicks_) {
      settleRun();
      haveBeforeRun_ = true;
      beforeRunTicks_ = previousTicks_;
      runStart_ = pending_.size();
    }
    pending_.push_back({index, offset, time, message, ticks, false, ticks});
    hasEvents_ = true;
    previousTime_ = time;
    previousTicks_ = ticks;
  }

  // Ends the current take, if any.
  void finish() {
    if (!inTake_) return;
    settleRun(); // the last run of a take never stands ahead: nothing follows to show it
    sink_.endTake();
    inTake_ = false;
    hasEvents_ = false;
  }

private:
  // The run before a record with other ticks is settled unless that record just marked it ahead:
  // then everything held goes out, the ahead records placed at the run's ticks.
  void settleRun() {
    if (runStart_ < pending_.size() && pending_[runStart_].ahead) return;
    const uint64_t placed = runStart_ < pending_.size() ? pending_[runStart_].ticks : 0;
    for (RecordedEvent& event : pending_) {
      if (event.ahead) event.placedTicks = placed;
      sink_.event(event);
    }
    pending_.clear();
    runStart_ = 0;
  }

  RecordingSink& sink_;
  ReadTotals& totals_;
  bool inTake_ = false;
  bool hasEvents_ = false;  // the current recording has events
  uint64_t wrapOffset_ = 0; // added to the stored times of the current take
  uint32_t previousTime_ = 0;
  uint64_t previousTicks_ = 0;
  // Before the current run stands the last record with other ticks, if the recording has one.
  bool haveBeforeRun_ = false;
  uint64_t beforeRunTicks_ = 0;
  std::vector<RecordedEvent> pending_; // ahead runs, then the current run from runStart_
  size_t runStart_ = 0;
};

// Finds the records in the bytes: on the 8-byte grid from byte 0, and on a new grid past
// damage (DAMAGE_RULE).
class RecordFinder {
public:
  RecordFinder(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

  uint32_t time(size_t at) const { return littleEndian(bytes_ + at); }
  uint32_t message(size_t at) const { return littleEndian(bytes_ + at + 4); }
  bool plausible(size_t at) const { return isPlausibleMessage(message(at)); }

  // `run` plausible records from `at` (all whole ones left, when fewer) whose times do not
  // decrease. `at` must leave room for one whole record.
  bool trusted(size_t at, size_t run) const {
    size_t count = 0;
    uint32_t previous = 0;
    for (size_t p = at; count < run && size_ - p >= RECORD_SIZE; p += RECORD_SIZE) {
      if (!plausible(p) || (count > 0 && time(p) < previous)) return false;
      previous = time(p);
      ++count;
    }
    return true;
  }

  // Where the vote from `at` ends: VOTE_SPAN records' worth of bytes on, or the end.
  size_t voteEnd(size_t at) const {
    return size_ - at > VOTE_SPAN * RECORD_SIZE ? at + VOTE_SPAN * RECORD_SIZE : size_;
  }

  // The byte shift from `at` whose whole records up to voteEnd(at) read most like a recording:
  // 0 (the grid) unless another shift scores clearly more. A record scores when it is
  // plausible and in order (below): a shifted reading can make a message of a time, but seldom
  // puts those in order.
  size_t betterShift(size_t at) const {
    const size_t end = voteEnd(at);
    // The lead another shift needs over the grid: 3 over a full span, less where the file ends
    // sooner, so that a short take after stray bytes at the end is still found.
    const size_t lead = std::min<size_t>(3, std::max<size_t>(1, (end - at) / RECORD_SIZE / 4));
    size_t best = 0;
    size_t bestScore = 0;
    for (size_t shift = 0; shift < RECORD_SIZE; ++shift) {
      size_t score = 0;
      // The two records before on this shift, as {plausible, time}; none yet reads as {true, 0}.
      bool plausible1 = true, plausible2 = true;
      uint32_t time1 = 0, time2 = 0;
      for (size_t p = at + shift; p < end && end - p >= RECORD_SIZE; p += RECORD_SIZE) {
        const bool ok = plausible(p);
        const uint32_t t = time(p);
        // In order with the record before, or with the one before that: a record stamped as
        // a pause ended stands alone ahead of both its neighbours.
        if (ok && ((plausible1 && time1 <= t) || (plausible2 && time2 <= t))) ++score;
        plausible2 = plausible1;
        time2 = time1;
        plausible1 = ok;
        time1 = t;
      }
      if (shift == 0 || score >= bestScore + (best == 0 ? lead : 1)) {
        best = shift;
        bestScore = score;
      }
    }
    return best;
  }

  // The nearest offset from `from` on, a record at a time and before `limit`, from which
  // RESYNC_RUN trusted records follow; size_ when there is none.
  size_t nextTrusted(size_t from, size_t limit) const {
    for (size_t at = from; at < limit && size_ - at >= RECORD_SIZE; at += RECORD_SIZE)
      if (trusted(at, RESYNC_RUN)) return at;
    return size_;
  }

private:
  const uint8_t* bytes_;
  size_t size_;
};

} // namespace

const char* knownFormat(const uint8_t* bytes, size_t size) {
  const auto startsWith = [&](const char* magic, size_t at = 0) {
    const size_t length = std::char_traits<char>::length(magic);
    return size >= at + length && std::equal(magic, magic + length, bytes + at);
  };
  // Frame sync alone (0xFF 0xEx) is no sign of an MP3: a first time of 0xExFF ticks has it.
  static const struct {
    const char* magic;
    const char* kind;
  } SIGNATURES[] = {
      {"MThd", "a Standard MIDI File"},
      {"PK\x03\x04", "a zip archive"},
      {"PK\x05\x06", "a zip archive"},
      {"ID3", "an MP3 sound file"},
      {"OggS", "an Ogg sound file"},
      {"fLaC", "a FLAC sound file"},
      {"%PDF", "a PDF document"},
      {"\x7F"
       "ELF",
       "a program"},
  };
  if (startsWith("RIFF"))
    return startsWith("WAVE", 8) ? "a WAV sound file" : "a RIFF file (sound or video)";
  // "MZ" alone is a first time of 0x5A4D ticks modulo 2^16, one take in 65,536: a Windows
  // program or DLL also has "PE\0\0" where the word at byte 60 points.
  if (startsWith("MZ") && size >= 64) {
    const uint32_t header = littleEndian(bytes + 60);
    if (header <= size - 4 && std::equal(bytes + header, bytes + header + 4, "PE\0\0"))
      return "a Windows program or DLL";
  }
  for (const auto& signature : SIGNATURES)
    if (startsWith(signature.magic)) return signature.kind;
  // Plain text: its first bytes are printable UTF-8. A recording's first record is not: a
  // channel status is 0x80-0xEF followed by a data byte below 0x80, which UTF-8 allows only
  // after a time whose top byte is a lead byte (over 18 hours of ticks).
  const size_t end = std::min<size_t>(size, 4096);
  size_t at = 0;
  while (at < end) {
    const uint8_t byte = bytes[at];
    // A sequence cut at the end of what is looked at counts by the bytes there are.
    const size_t length = utf8Length(bytes + at, end - at);
    if (length == 0 || (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') ||
        byte == 0x7F)
      return nullptr;
    at += length;
  }
  return size > 0 ? "plain text" : nullptr;
}

ReadTotals readRecording(const uint8_t* bytes, size_t size, RecordingSink& sink) {
  if (const char* kind = knownFormat(bytes, size))
    throw RecordingError(std::string(kind) + ", not a recording");

  ReadTotals totals;
  totals.bytes = size;
  TakeAssembler takes(sink, totals);
  const RecordFinder split(bytes, size);
  const auto readRecord = [&](size_t at) {
    const uint64_t index = totals.records++;
    takes.record(index, at, split.time(at), split.message(at));
  };
  const auto damage = [&](size_t from, size_t to) {
    ++totals.damagedPlaces;
    totals.skippedBytes += to - from;
    std::string text = "damaged from byte " + std::to_string(from);
    if (to == size && to - from < RECORD_SIZE)
      text += ": the last " + std::to_string(to - from) +
              (to - from == 1 ? " byte is" : " bytes are") +
              " not a whole 8-byte record and not read";
    else
      text += " to byte " + std::to_string(to) + ": " + std::to_string(to - from) +
              (to - from == 1 ? " byte" : " bytes") + " skipped, reading goes on from byte " +
              std::to_string(to);
    sink.warning({RecordingWarning::Kind::Damage, from, text});
  };

  size_t pos = 0;
  while (size - pos >= RECORD_SIZE) {
    size_t resume = size;
    if (!split.trusted(pos, TRUSTED_RUN))
      if (const size_t shift = split.betterShift(pos); shift != 0)
        resume = split.nextTrusted(pos + shift, split.voteEnd(pos));
    if (resume == size) {
      // The grid holds: the record is read as it stands.
      readRecord(pos);
      pos += RECORD_SIZE;
      continue;
    }
    // Another phase takes over at `resume`: what of the grid is plausible before it is read.
    while (resume - pos >= RECORD_SIZE && split.plausible(pos)) {
      readRecord(pos);
      pos += RECORD_SIZE;
    }
    damage(pos, resume);
    pos = resume;
  }
  if (pos < size) damage(pos, size);
  takes.finish();
  return totals;
}

void requireRecording(const ReadTotals& totals) {
  const uint64_t plausibleBytes = totals.channelMessages * RECORD_SIZE;
  if (totals.bytes > 0 && plausibleBytes * PLAUSIBLE_SHARE_DIVISOR < totals.bytes)
    throw RecordingError("not a recording: only " +
                         std::to_string(plausibleBytes * 100 / totals.bytes) +
                         "% of its bytes read as the MIDI messages the recorder writes");
}

uint64_t Take::durationTicks() const {
  uint64_t longest = 0;
  for (const RecordedEvent& event : events)
    longest = std::max(longest, event.ticks);
  return longest;
}

RecordingFile parseRecording(const std::vector<uint8_t>& bytes) {
  struct Collector : RecordingSink {
    RecordingFile& file;
    explicit Collector(RecordingFile& into) : file(into) {}
    void beginTake(uint64_t) override { file.takes.emplace_back(); }
    void event(const RecordedEvent& event) override { file.takes.back().events.push_back(event); }
    void warning(const RecordingWarning& warning) override { file.warnings.push_back(warning); }
  };
  RecordingFile file;
  Collector collector(file);
  file.totals = readRecording(bytes.data(), bytes.size(), collector);
  requireRecording(file.totals);
  return file;
}

} // namespace quorb
