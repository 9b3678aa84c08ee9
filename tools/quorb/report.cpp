#include "report.h"

#include <cmath>
#include <cstdio>

#include "failures.h"
#include "numbers.h"

namespace quorb {
namespace {
constexpr size_t WARNINGS_SHOWN_PER_KIND = 10;
}

std::string seconds(uint64_t ticks, double rate) {
  char text[48];
  std::snprintf(text, sizeof text, "%.6f", double(ticks) / rate);
  return text;
}

std::string minutesAndSeconds(uint64_t ticks, double rate) {
  // Rounded to the millisecond before the minutes are taken, so 59.9996 s reads 1:00.000.
  const double milliseconds = std::round(double(ticks) / rate * 1000);
  const double minutes = std::floor(milliseconds / 60000);
  char text[64];
  std::snprintf(text, sizeof text, "%.0f:%06.3f", minutes, (milliseconds - minutes * 60000) / 1000);
  return text;
}

void RunNotes::sayRate(std::ostream& out) {
  if (rate.empty() || rateSaid) return;
  rateSaid = true;
  out << "quorb: " << rate << '\n';
}

void WarningLog::add(const RecordingWarning& warning) {
  Kind& kind = kinds_[size_t(warning.kind)];
  if (kind.count++ < WARNINGS_SHOWN_PER_KIND) kind.shown.push_back(warning.text);
}

uint64_t WarningLog::count() const {
  uint64_t all = 0;
  for (const Kind& kind : kinds_)
    all += kind.count;
  return all;
}

void WarningLog::print(std::ostream& out, const std::string& prefix) const {
  for (const Kind& kind : kinds_) {
    for (const std::string& text : kind.shown)
      out << prefix << text << '\n';
    if (kind.count > kind.shown.size())
      out << prefix << "... and " << plural(kind.count - kind.shown.size(), "more warning")
          << " like the one above\n";
  }
}

std::string damageSummary(const ReadTotals& totals) {
  if (totals.skippedBytes == 0) return "";
  return plural(totals.skippedBytes, "damaged byte") + " skipped in " +
         plural(totals.damagedPlaces, "place");
}

ReadTotals readChecked(const std::string& path, const std::vector<uint8_t>& bytes,
                       RecordingSink& sink) {
  try {
    const ReadTotals totals = readRecording(bytes.data(), bytes.size(), sink);
    requireRecording(totals);
    return totals;
  } catch (const RecordingError& error) {
    throw FileError(path + ": " + error.what());
  }
}

} // namespace quorb
