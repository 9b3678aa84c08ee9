#include "settings.h"

#include "numbers.h"
#include "report.h"

namespace quorb {

Settings parseSettings(const OptionTexts& texts) {
  Settings settings;
  if (texts.rate) settings.rate = parseRate("--rate", *texts.rate);
  settings.midi.rate = settings.rate.value_or(DEFAULT_RATE);
  settings.midi.ppq = uint16_t(parseInteger("--ppq", texts.ppq, 1, 32767, "960"));
  settings.midi.bpm = parseNumber("--bpm", texts.bpm, 1e-3, 60e6, "120"); // the tempo decides
  if (texts.take) settings.take = uint64_t(parseInteger("--take", *texts.take, 1, INT64_MAX, "2"));
  settings.split = texts.split;
  return settings;
}

} // namespace quorb
