#ifndef QUORB_TOOLS_COMMON_UTF8_H
#define QUORB_TOOLS_COMMON_UTF8_H

// The one check of UTF-8 in the tools: what the reader takes for plain text and what the picture
// page lets through as it is.

#include <cstddef>
#include <cstdint>

namespace quorb {

// The length, 1 to 4, of the UTF-8 sequence whose lead byte is bytes[0], when it is well-formed
// (RFC 3629: no stray continuation byte, no overlong form, no surrogate, nothing past U+10FFFF);
// 0 when it is not. Only the first `available` bytes are looked at (at least 1): a sequence cut
// short there is judged on the bytes there are, and the caller sees the cut in a length above
// `available`.
size_t utf8Length(const uint8_t* bytes, size_t available);

} // namespace quorb

#endif // QUORB_TOOLS_COMMON_UTF8_H
