#ifndef QUORB_TOOLS_VIEW_SVG_TEXT_H
#define QUORB_TOOLS_VIEW_SVG_TEXT_H

// The words and numbers of the piano roll's SVG: compact numbers, escaped text, time labels.

#include <cstdint>
#include <string>

namespace quorb::svg {

// The picture's shared styles, one CSS block: every element takes a class, none a style.
extern const char* const STYLE;

// Numbers in tenths of a pixel: "12", "12.3", "-0.5".
void putTenths(std::string& out, int64_t tenths);
// Pixels as tenths: "12.3".
std::string tenths(double pixels);
// A path's next number: a sign separates it from the one before, otherwise a space.
void putPathNumber(std::string& out, int64_t value);
// Text as XML takes it: the markup characters escaped, and what would make the picture
// unreadable (control characters, bytes that are not UTF-8, as a file name on Linux may hold)
// as '?'.
std::string escaped(const std::string& text);
// "0:07.5", "12:03", "1:00:00": tenths for the short, seconds for the long.
std::string clock(double seconds, bool withTenths);
// Seconds for takes under a minute ("0", "2.5 s"), the clock for longer ones.
std::string gridLabel(double at, double takeSeconds);
// A grid step of seconds that puts labels at least 50 pixels apart.
double gridStep(double pixelsPerSecond);

} // namespace quorb::svg

#endif // QUORB_TOOLS_VIEW_SVG_TEXT_H
