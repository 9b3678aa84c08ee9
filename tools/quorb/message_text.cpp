#include "message_text.h"

#include <cstdio>

#include "smf.h"

namespace quorb {

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
  const bool oneDataByte = kind == 0xC0 || kind == 0xD0;
  if (data1 >= 0x80 || (!oneDataByte && data2 >= 0x80)) {
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

} // namespace quorb
