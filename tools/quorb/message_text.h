#ifndef QUORB_TOOLS_QUORB_MESSAGE_TEXT_H
#define QUORB_TOOLS_QUORB_MESSAGE_TEXT_H

#include <cstdint>
#include <string>

namespace quorb {

// A message word (status in bits 0-7) for people: "Note On  ch 1  C4  vel 64". Channels count
// from 1. Words that are not a channel message with valid data bytes are shown raw.
std::string describeMessage(uint32_t word);

} // namespace quorb

#endif // QUORB_TOOLS_QUORB_MESSAGE_TEXT_H
