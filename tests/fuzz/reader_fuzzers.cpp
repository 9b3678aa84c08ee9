// libFuzzer targets for the readers that take files from users: the Standard MIDI File reader
// (quorb-host plays any .mid) and the recording reader (quorb reads any .quorb), each built as
// its own program: QUORB_FUZZ_SMF or QUORB_FUZZ_RECORDING. Besides surviving any input under
// ASan and UBSan, each checks what its reader promises about what it returns.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "recording.h"
#include "smf_writer.h"
#include "to_midi.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

#ifdef QUORB_FUZZ_SMF
// A file that parses writes back into one that parses to the same channel messages.
void fuzzSmf(const std::vector<uint8_t>& bytes) {
  quorb::SmfFile file;
  try {
    file = quorb::parseSmf(bytes);
  } catch (const quorb::SmfError&) {
    return;
  }
  const std::vector<quorb::TimedMessage> messages = quorb::timedChannelMessages(file);
  std::vector<uint8_t> again;
  try {
    // Through quorb's own writer: each track's events again, its End-of-Track from the encoder.
    std::vector<std::vector<uint8_t>> tracks;
    for (const quorb::SmfTrack& track : file.tracks) {
      quorb::TrackEncoder encoder;
      for (const quorb::SmfEvent& event : track.events)
        if (event.bytes != std::vector<uint8_t>{0xFF, 0x2F, 0x00})
          encoder.add(event.tick, event.bytes);
      encoder.end();
      tracks.push_back(std::move(encoder.data()));
    }
    again = quorb::smfBytes(file.format, file.ticksPerQuarter, tracks);
  } catch (const quorb::SmfError&) {
    return; // e.g. more than 65535 tracks announced and read
  }
  const std::vector<quorb::TimedMessage> reread =
      quorb::timedChannelMessages(quorb::parseSmf(again));
  check(reread.size() == messages.size());
  for (size_t i = 0; i < reread.size(); ++i)
    check(reread[i].word == messages[i].word && reread[i].seconds == messages[i].seconds);
}
#endif

#ifdef QUORB_FUZZ_RECORDING
// Every byte is read as part of a record or skipped as damage, records come in file order with
// takes properly opened and closed, and the conversion takes whatever the reader gives.
struct Checker : quorb::RecordingSink {
  quorb::MidiConverter midi{quorb::MidiOptions{44100, 960, 120, {}, true}}; // the grid found too
  bool open = false;
  uint64_t takes = 0, nextOffset = 0, index = 0;
  size_t size;
  explicit Checker(size_t bytes) : size(bytes) {}
  void beginTake(uint64_t number) override {
    check(!open && number == ++takes);
    open = true;
    midi.beginTake(number);
  }
  void event(const quorb::RecordedEvent& e) override {
    check(open && e.offset >= nextOffset && e.offset + 8 <= size);
    check(e.index == index && (e.ahead || e.placedTicks == e.ticks)); // every record read is shown
    nextOffset = e.offset + 8;
    index = e.index + 1;
    midi.event(e);
  }
  void endTake() override {
    check(open);
    open = false;
    midi.endTake();
  }
};

void fuzzRecording(const std::vector<uint8_t>& bytes) {
  Checker checker(bytes.size());
  quorb::ReadTotals totals;
  try {
    totals = quorb::readRecording(bytes.data(), bytes.size(), checker);
  } catch (const quorb::RecordingError&) {
    return; // a Standard MIDI File
  }
  check(!checker.open && totals.takes == checker.takes);
  check(totals.records * 8 + totals.skippedBytes == bytes.size() &&
        checker.index == totals.records);
  check(totals.channelMessages <= totals.records);
  for (const quorb::MidiConverter::Track& track : checker.midi.tracks)
    quorb::parseSmf(quorb::smfBytes(0, 960, {track.data}));
}
#endif

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
#ifdef QUORB_FUZZ_SMF
  fuzzSmf(bytes);
#endif
#ifdef QUORB_FUZZ_RECORDING
  fuzzRecording(bytes);
#endif
  return 0;
}
