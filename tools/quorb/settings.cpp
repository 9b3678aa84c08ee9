#include "settings.h"

#include "failures.h"
#include "numbers.h"
#include "report.h"

#include <string>

namespace quorb {

Settings parseSettings(const OptionTexts& texts) {
  Settings settings;
  if (texts.rate) settings.rate = parseRate("--rate", *texts.rate);
  settings.midi.rate = settings.rate.value_or(DEFAULT_RATE);
  if (texts.ppq) settings.midi.ppq = uint16_t(parseInteger("--ppq", *texts.ppq, 1, 32767, "960"));
  settings.midi.finerForSlowQuarters = !texts.ppq;
  // The tempo decides the range: a quarter note lasts 1 to 0xFFFFFF us.
  if (texts.bpm) settings.midi.bpm = parseNumber("--bpm", *texts.bpm, 4, 60e6, "120");
  GridSettings& grid = settings.midi.grid;
  grid.plain = texts.plain || texts.bpm.has_value();
  grid.bpm = settings.midi.bpm;
  if (texts.tempo) grid.find.knownBpm = parseNumber("--tempo", *texts.tempo, 20, 400, "96");
  if (texts.meter) {
    // One answer for every meter the grid cannot count, whatever is wrong with it (2/2, 11/8,
    // 13/4, 4/4/4), so that a musician reads which ones it can: the meters it writes itself.
    const std::string& text = *texts.meter;
    const size_t slash = text.find('/');
    auto whole = [](const std::string& digits) {
      if (digits.empty() || digits.size() > 2 ||
          digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
      return std::stoi(digits);
    };
    const int numerator = slash == std::string::npos ? 0 : whole(text.substr(0, slash));
    const int denominator = slash == std::string::npos ? 0 : whole(text.substr(slash + 1));
    const bool known =
        numerator >= 1 && numerator <= 12 &&
        (denominator == 4 ||
         (denominator == 8 && (numerator % 3 == 0 || numerator == 5 || numerator == 7)));
    if (!known)
      throw UsageError("--meter " + text +
                       ": give a meter as N/4 (N from 1 to 12) or as 5/8, 6/8, "
                       "7/8, 9/8 or 12/8, e.g. --meter 3/4");
    grid.find.numerator = numerator;
    grid.find.denominator = denominator;
  }
  if (grid.plain && (texts.tempo || texts.meter))
    throw UsageError("--plain (or --bpm) writes a constant tempo: it takes no --tempo or --meter");
  if (texts.take) settings.take = uint64_t(parseInteger("--take", *texts.take, 1, INT64_MAX, "2"));
  settings.split = texts.split;
  return settings;
}

} // namespace quorb
