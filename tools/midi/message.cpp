#include "message.h"

#include <cstdio>

namespace quorb {

std::string noteName(uint8_t note) {
  static const char* const NAMES[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                      "F#", "G",  "G#", "A",  "A#", "B"};
  return NAMES[note % 12] + std::to_string(note / 12 - 1);
}

std::string describeMessage(uint32_t word) {
  const uint8_t status = word & 0xFF;
  const uint8_t data1 = (word >> 8) & 0xFF;
  const uint8_t data2 = (word >> 16) & 0xFF;
  char raw[48];
  if (status < 0x80) {
    std::snprintf(raw, sizeof raw, "raw: no status byte (0x%02X)", unsigned(status));
    return raw;
  }
  if (status >= 0xF0) {
    std::snprintf(raw, sizeof raw, "raw: system status 0x%02X", unsigned(status));
    return raw;
  }
  const uint8_t kind = status & 0xF0;
  if (channelMessageSize(word) == 0) {
    std::snprintf(raw, sizeof raw, "raw: status 0x%02X with a data byte above 0x7F",
                  unsigned(status));
    return raw;
  }
  const std::string channel = "  ch " + std::to_string((status & 0x0F) + 1) + "  ";
  switch (kind) {
  case 0x80:
    return "Note Off" + channel + noteName(data1) + "  vel " + std::to_string(data2);
  case 0x90:
    return "Note On" + channel + noteName(data1) + "  vel " + std::to_string(data2);
  case 0xA0:
    return "Poly Aftertouch" + channel + noteName(data1) + "  pressure " + std::to_string(data2);
  case 0xB0:
    return "Control Change" + channel + "cc " + std::to_string(data1) + "  value " +
           std::to_string(data2);
  case 0xC0:
    return "Program Change" + channel + "program " + std::to_string(data1);
  case 0xD0:
    return "Channel Pressure" + channel + "pressure " + std::to_string(data1);
  default: // 0xE0: 14 bits, least significant 7 first, centred on 8192
    return "Pitch Bend" + channel + "value " + std::to_string((data2 << 7 | data1) - 8192);
  }
}

HeldNotes::Change HeldNotes::apply(uint32_t word) {
  Change change;
  const uint32_t kind = word & 0xF0;
  if ((kind != 0x80 && kind != 0x90) || channelMessageSize(word) == 0) return change;
  change.channel = uint8_t(word & 0x0F);
  change.key = uint8_t((word >> 8) & 0x7F);
  const bool on = kind == 0x90 && ((word >> 16) & 0x7F) > 0;
  auto sounding = sounding_[change.channel][change.key];
  change.ends = sounding;
  change.starts = on;
  if (sounding && !on) --count_;
  if (!sounding && on) ++count_;
  sounding = on;
  return change;
}

} // namespace quorb
