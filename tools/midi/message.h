#ifndef QUORB_TOOLS_MIDI_MESSAGE_H
#define QUORB_TOOLS_MIDI_MESSAGE_H

// MIDI channel messages as the module records them: a 32-bit word with the status byte in bits
// 0-7, the first data byte in bits 8-15 and the second in bits 16-23. One rule for what a channel
// message is and how long it is, its description for people, and the one tracker of which notes
// sound, for every command that needs them.

#include <array>
#include <bitset>
#include <cstdint>
#include <string>

namespace quorb {

// A channel message packed as the host delivers it to the module; bits 24-31 zero.
constexpr uint32_t packMessage(uint8_t status, uint8_t data1, uint8_t data2) {
  return uint32_t(status) | uint32_t(data1) << 8 | uint32_t(data2) << 16;
}

// The size in bytes of the channel message in `word`: 2 for program change and channel pressure,
// 3 for the others; 0 when the word is not a channel message (status 0x80-0xEF) whose data
// bytes, as many as it has, are below 0x80. A byte the message does not use is not judged.
constexpr int channelMessageSize(uint32_t word) {
  const uint32_t status = word & 0xFF;
  if (status < 0x80 || status >= 0xF0 || ((word >> 8) & 0x80) != 0) return 0;
  const uint32_t kind = status & 0xF0;
  if (kind == 0xC0 || kind == 0xD0) return 2;
  return ((word >> 16) & 0x80) == 0 ? 3 : 0;
}

// "C4" for 60, "C#-1" for 1, "G9" for 127.
std::string noteName(uint8_t note);

// The word for people: "Note On  ch 1  C4  vel 64", channels from 1. A word that is not a channel
// message is shown raw, saying why.
std::string describeMessage(uint32_t word);

// Which notes sound, by one rule: a Note On (velocity above 0) starts a note on its channel and
// key; a Note Off, or a Note On of velocity 0, ends the note sounding there; and a Note On for a
// key that already sounds on that channel ends the earlier note there before it starts its own,
// as sequencers do when they import a file. Everything else changes nothing.
class HeldNotes {
public:
  struct Change {
    bool ends = false;   // the note sounding on this channel and key ends here
    bool starts = false; // a note starts here
    uint8_t channel = 0; // 0-15
    uint8_t key = 0;
  };
  Change apply(uint32_t word);

  uint64_t sounding() const { return count_; }
  // Ends every sounding note, calling end(channel, key) for each, channel by channel and key by
  // key.
  template <typename End> void endAll(End end) {
    for (uint8_t channel = 0; channel < 16; ++channel)
      for (uint8_t key = 0; key < 128; ++key)
        if (sounding_[channel][key]) end(channel, key);
    for (auto& keys : sounding_)
      keys.reset();
    count_ = 0;
  }

private:
  std::array<std::bitset<128>, 16> sounding_{};
  uint64_t count_ = 0;
};

} // namespace quorb

#endif // QUORB_TOOLS_MIDI_MESSAGE_H
