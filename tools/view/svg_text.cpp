#include "svg_text.h"

#include "utf8.h"

#include <cmath>
#include <cstdio>

namespace quorb::svg {

const char* const STYLE =
    "text{font-family:sans-serif;font-size:10px;fill:#444}"
    ".h{font-size:13px;font-weight:bold;fill:#000}.t{font-size:15px;fill:#000}"
    ".g{stroke:#ddd;stroke-width:1}.o{stroke:#bbb;stroke-width:1}"
    ".k{stroke:#f0f0f0;stroke-width:6;fill:none}.lane{fill:#f4f4f4}.hang{fill:#000}"
    ".n{fill:none;stroke-width:4}.p{stroke:none}.b{fill:none;stroke-width:1.2}"
    ".v0{stroke-opacity:.35}.v1{stroke-opacity:.55}.v2{stroke-opacity:.8}"
    ".dmg{stroke-width:2}.pause{stroke-width:2;stroke-dasharray:4 3}"
    ".beat{stroke:#ececec;stroke-width:1}.bar{stroke:#a8a8a8;stroke-width:1}.bn{font-size:8px}";

void putTenths(std::string& out, int64_t tenths) {
  if (tenths < 0) {
    out += '-';
    tenths = -tenths;
  }
  out += std::to_string(tenths / 10);
  if (tenths % 10 != 0) {
    out += '.';
    out += char('0' + tenths % 10);
  }
}

std::string tenths(double pixels) {
  std::string text;
  putTenths(text, std::llround(pixels * 10));
  return text;
}

void putPathNumber(std::string& out, int64_t value) {
  if (value >= 0 && !out.empty() && out.back() != 'M' && out.back() != 'm' && out.back() != 'h')
    out += ' ';
  putTenths(out, value);
}

std::string escaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = text[i];
    if (c >= 0x80) {
      const size_t left = text.size() - i;
      size_t valid = utf8Length(reinterpret_cast<const uint8_t*>(text.data() + i), left);
      if (valid > left) valid = 0;
      out += valid ? text.substr(i, valid) : "?";
      i += valid ? valid - 1 : 0;
      continue;
    }
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      out += c < 0x20 ? '?' : char(c);
    }
  }
  return out;
}

std::string clock(double seconds, bool withTenths) {
  char text[48];
  if (!(seconds < 1e12)) { // an odd --rate: beyond any clock
    std::snprintf(text, sizeof text, "%.3g s", seconds);
    return text;
  }
  const int64_t tenthsAll = std::llround(seconds * 10);
  const int64_t whole = withTenths ? tenthsAll / 10 : std::llround(seconds);
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", (long long)(whole / 3600),
                  (long long)(whole / 60 % 60), (long long)(whole % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", (long long)(whole / 60),
                  (long long)(whole % 60));
  std::string out = text;
  if (withTenths) out += "." + std::to_string(tenthsAll % 10);
  return out;
}

std::string gridLabel(double at, double takeSeconds) {
  if (takeSeconds >= 60) return clock(at, false);
  char text[32];
  std::snprintf(text, sizeof text, at == 0 ? "0" : "%g s", at);
  return text;
}

double gridStep(double pixelsPerSecond) {
  static const double STEPS[] = {0.1, 0.2, 0.5, 1,   2,    5,    10,   15,    30,    60,
                                 120, 300, 600, 900, 1800, 3600, 7200, 18000, 36000, 86400};
  for (const double step : STEPS)
    if (step * pixelsPerSecond >= 50) return step;
  // Beyond days (an odd --rate): a power of ten, so that the grid keeps to a few dozen lines.
  return std::pow(10.0, std::ceil(std::log10(50 / pixelsPerSecond)));
}

} // namespace quorb::svg
