#include "settings.h"

#include "failures.h"
#include "numbers.h"
#include "report.h"

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
    const std::string& text = *texts.meter;
    const size_t slash = text.find('/');
    const int numerator = slash == std::string::npos
                              ? 0
                              : int(parseInteger("--meter", text.substr(0, slash), 1, 12, "3/4"));
    const int denominator = slash == std::string::npos
                                ? 0
                                : int(parseInteger("--meter", text.substr(slash + 1), 4, 8, "3/4"));
    const bool known = (denominator == 4) || (denominator == 8 && numerator % 3 == 0);
    if (!known)
      throw UsageError("--meter " + text +
                       ": give a meter as N/4 (N from 1 to 12) or as 6/8, "
                       "9/8 or 12/8, e.g. --meter 3/4");
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
