#include "playback.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "numbers.h"
#include "stand_in_host.h"

namespace {

// The host's clock is 32 bits wide: one playback stays within one turn of it, which also
// bounds the number of blocks a stray time in a MIDI file can ask for.
constexpr double CLOCK_TURN = 4294967296.0;
// Far past any playback, small enough to convert safely: where pause ends are clamped.
constexpr double FAR_SAMPLE = 1099511627776.0; // 2^40

// A module describing pins without end must not keep the host asking.
constexpr int32_t MAX_DESCRIBED_PINS = 256;

uint64_t sampleOf(double seconds, int32_t rate) {
  return static_cast<uint64_t>(std::llround(std::min(seconds * rate, FAR_SAMPLE)));
}

void checkSettings(const PlaybackSettings& settings) {
  if (settings.rate <= 0)
    throw PlaybackError("the rate must be at least 1 sample per second, not " +
                        std::to_string(settings.rate));
  if (settings.block <= 0)
    throw PlaybackError("the block must be at least 1 sample, not " +
                        std::to_string(settings.block));
  for (const Pause& pause : settings.pauses)
    if (!std::isfinite(pause.from) || !std::isfinite(pause.to) || pause.from < 0 ||
        pause.to <= pause.from)
      throw PlaybackError("a pause must run from FROM >= 0 to a later TO, not " +
                          std::to_string(pause.from) + "-" + std::to_string(pause.to));
}

std::vector<Playback::Scheduled> schedule(const std::vector<quorb::TimedMessage>& messages,
                                          int32_t rate) {
  std::vector<Playback::Scheduled> out;
  out.reserve(messages.size());
  for (size_t i = 0; i < messages.size(); ++i) {
    const double at = messages[i].seconds * rate;
    if (!std::isfinite(at) || at < 0)
      throw PlaybackError("message " + std::to_string(i + 1) + " has no usable time");
    if (at >= CLOCK_TURN - 0.5)
      throw PlaybackError(
          "message " + std::to_string(i + 1) + " at " + std::to_string(messages[i].seconds) +
          " s lies beyond one turn of the host's 32-bit clock at " + std::to_string(rate) + " Hz");
    out.push_back({static_cast<uint64_t>(std::llround(at)), messages[i].word});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Playback::Scheduled& a, const Playback::Scheduled& b) {
                     return a.sample < b.sample;
                   });
  return out;
}

// The pauses as merged, ordered runs of blocks [first, end) with "REC" 0.
std::vector<std::pair<uint64_t, uint64_t>> pausedBlocks(const PlaybackSettings& settings) {
  const auto block = static_cast<uint64_t>(settings.block);
  std::vector<std::pair<uint64_t, uint64_t>> runs;
  for (const Pause& pause : settings.pauses) {
    const uint64_t first = sampleOf(pause.from, settings.rate) / block;
    const uint64_t end = sampleOf(pause.to, settings.rate) / block;
    if (first < end) runs.emplace_back(first, end);
  }
  std::sort(runs.begin(), runs.end());
  std::vector<std::pair<uint64_t, uint64_t>> merged;
  for (const auto& run : runs) {
    if (!merged.empty() && run.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, run.second);
    else
      merged.push_back(run);
  }
  return merged;
}

// The host asks how many pins the module describes and holds that many.
int32_t countPins(HostedModule& module) {
  int32_t count = 0;
  while (count < MAX_DESCRIBED_PINS) {
    PinDescription description{};
    if (module.dispatch(MOD_GET_PIN_DESCRIPTION, count, 0, &description) == 0) break;
    ++count;
  }
  return count;
}

void checkRecorderPins(HostedModule& module, int32_t count) {
  auto refuse = [](const std::string& why) {
    throw PlaybackError("the module file does not make a recorder: " + why);
  };
  if (count < RECORDER_PINS)
    refuse("it describes " + quorb::plural(uint64_t(count), "pin") + ", not " +
           std::to_string(RECORDER_PINS));
  const PinDescription rec = module.describe(PIN_INDEX_REC);
  const PinDescription file = module.describe(PIN_INDEX_OUTFILE);
  const PinDescription diagnose = module.describe(PIN_INDEX_DIAGNOSE);
  if (rec.type != PIN_ENUM || rec.variable == nullptr) refuse("pin 1 is not the REC list");
  if (file.type != PIN_TEXT || (file.flags & PIN_FLAG_FILENAME) == 0 || file.variable == nullptr)
    refuse("pin 2 is not a file name");
  if (diagnose.type != PIN_BOOL || diagnose.variable == nullptr)
    refuse("pin 3 is not the diagnostics switch");
}

} // namespace

Playback::Playback(const ModuleLibrary& library, const std::vector<quorb::TimedMessage>& messages,
                   const PlaybackSettings& settings)
    : settings_(settings), module_(nullptr) {
  checkSettings(settings);
  scheduled_ = schedule(messages, settings.rate);
  paused_ = pausedBlocks(settings);
  const auto block = static_cast<uint64_t>(settings.block);
  blocks_ = scheduled_.empty() ? 1 : scheduled_.back().sample / block + 1;

  if (!library.loaded()) throw PlaybackError(library.error());
  ModuleInfo info{};
  if (library.getModuleProperties(0, &info) == 0)
    throw PlaybackError("the module file offers no module type");
  host_.journal = false;
  ModuleRecord* record = library.makeModule(0, 1, &StandInHost::callback, &host_);
  if (record == nullptr) throw PlaybackError("the module file made no module object");
  module_ = HostedModule(record);
  try {
    host_.pinCount = countPins(module_);
    checkRecorderPins(module_, host_.pinCount);
  } catch (...) {
    module_.close();
    throw;
  }
}

Playback::~Playback() {
  if (module_.record() != nullptr) module_.close();
}

PlaybackReport Playback::run(const std::string& outPath, bool chooseOnly) {
  if (module_.record() == nullptr) throw PlaybackError("a playback runs once");
  // Holds the resolved path, and the OUTFILE text the pin variable points at, until after close.
  host_.resolvedPath = outPath;
  module_.open();
  module_.dispatch(MOD_SET_SAMPLE_RATE, 0, 0, nullptr, static_cast<float>(settings_.rate));
  module_.dispatch(MOD_SET_BLOCK_SIZE, 0, settings_.block);
  if (settings_.diagnose) module_.writePin(PIN_INDEX_DIAGNOSE, 1);
  int32_t rec = 1;
  module_.writePin(PIN_INDEX_REC, rec);
  module_.setPin<const char*>(PIN_INDEX_OUTFILE, host_.resolvedPath.c_str());
  module_.pinStatus(PIN_INDEX_OUTFILE, 1);
  module_.pinStatus(PIN_INDEX_OUTFILE, 0);

  const auto block = static_cast<uint64_t>(settings_.block);
  PlaybackReport report;
  size_t next = 0;
  auto run = paused_.begin();
  for (uint64_t k = 0; !chooseOnly && k < blocks_; ++k) {
    while (run != paused_.end() && run->second <= k)
      ++run;
    const bool pausing = run != paused_.end() && run->first <= k;
    if ((pausing ? 0 : 1) != rec) {
      rec = pausing ? 0 : 1;
      module_.writePin(PIN_INDEX_REC, rec);
    }
    host_.clock = static_cast<uint32_t>(k * block);
    module_.block();
    for (const uint64_t end = (k + 1) * block;
         next < scheduled_.size() && scheduled_[next].sample < end; ++next) {
      host_.clock = static_cast<uint32_t>(scheduled_[next].sample);
      module_.midi(scheduled_[next].word);
      ++report.messages;
      if (pausing)
        ++report.pausedMessages;
      else if ((scheduled_[next].word & 0xF0) != 0xF0)
        ++report.recordedMessages;
    }
  }
  module_.close();

  report.blocks = chooseOnly ? 0 : blocks_;
  report.samples = report.blocks * block;
  report.seconds = static_cast<double>(report.samples) / settings_.rate;
  return report;
}

PlaybackReport play(const ModuleLibrary& library, const std::vector<quorb::TimedMessage>& messages,
                    const std::string& outPath, const PlaybackSettings& settings) {
  return Playback(library, messages, settings).run(outPath);
}
