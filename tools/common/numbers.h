#ifndef QUORB_TOOLS_COMMON_NUMBERS_H
#define QUORB_TOOLS_COMMON_NUMBERS_H

// Numbers in words and from words: plurals, and the options' numbers checked with the range and
// an example in the message.

#include <cstdint>
#include <string>

namespace quorb {

// "1 message", "2 messages"; `many` defaults to `one` + "s".
std::string plural(uint64_t count, const std::string& one, const std::string& many = "");

// The number in `text` for `option`, or UsageError saying in words what is wrong with it, the
// range with `example` ("960") among them.
double parseNumber(const std::string& option, const std::string& text, double min, double max,
                   const std::string& example);
// A `max` of INT64_MAX reads as no upper bound.
int64_t parseInteger(const std::string& option, const std::string& text, int64_t min, int64_t max,
                     const std::string& example);

// Clock ticks (samples) per second, from MIN_RATE to MAX_RATE. Below MIN_RATE the number is
// taken for kHz and refused with the rate it likely means: "44.1" is not 44.1 ticks a second.
constexpr double MIN_RATE = 1000, MAX_RATE = 1e9;
double parseRate(const std::string& option, const std::string& text);

} // namespace quorb

#endif // QUORB_TOOLS_COMMON_NUMBERS_H
