#include "utf8.h"

namespace quorb {

size_t utf8Length(const uint8_t* bytes, size_t available) {
  const uint8_t lead = bytes[0];
  if (lead < 0x80) return 1;
  size_t length = 0;
  // The second byte's range depends on the lead byte; the others are any continuation byte.
  uint8_t low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;  // overlong below U+0800
    if (lead == 0xED) high = 0x9F; // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;  // overlong below U+10000
    if (lead == 0xF4) high = 0x8F; // past U+10FFFF
  } else {
    return 0; // a continuation byte, C0, C1 or F5-FF
  }
  for (size_t k = 1; k < length && k < available; ++k) {
    const uint8_t byte = bytes[k];
    if (k == 1 ? byte < low || byte > high : byte < 0x80 || byte > 0xBF) return 0;
  }
  return length;
}

} // namespace quorb
