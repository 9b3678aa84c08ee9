#include "numbers.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "failures.h"

namespace quorb {

std::string plural(uint64_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many.empty() ? one + "s" : many);
}

double parseNumber(const std::string& option, const std::string& text, double min, double max,
                   const std::string& example) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end == text.c_str() || *end != '\0' || !std::isfinite(value))
    throw UsageError(option + ": \"" + text + "\" is not a number");
  if (value < min || value > max) {
    char range[128];
    std::snprintf(range, sizeof range, " must be a number from %g to %.15g, e.g. ", min, max);
    throw UsageError(option + range + option + " " + example + "; not " + text);
  }
  return value;
}

int64_t parseInteger(const std::string& option, const std::string& text, int64_t min, int64_t max,
                     const std::string& example) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || end == text.c_str() || *end != '\0') {
    std::strtod(text.c_str(), &end);
    const bool number = !text.empty() && end != text.c_str() && *end == '\0';
    throw UsageError(option + ": \"" + text + "\" is not " +
                     (number ? "a whole number" : "a number"));
  }
  if (errno == ERANGE || value < min || value > max)
    throw UsageError(option + " must be a whole number from " + std::to_string(min) +
                     (max == INT64_MAX ? std::string(" up") : " to " + std::to_string(max)) +
                     ", e.g. " + option + " " + example + "; not " + text);
  return value;
}

double parseRate(const std::string& option, const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (!text.empty() && *end == '\0' && value > 0 && value < MIN_RATE) {
    char kHz[64];
    std::snprintf(kHz, sizeof kHz, "%.15g", value * 1000);
    throw UsageError(option + " " + text + " looks like kHz: give " + kHz +
                     " (clock ticks per second)");
  }
  return parseNumber(option, text, MIN_RATE, MAX_RATE, "48000");
}

} // namespace quorb
