#include "commands.h"

#include <cinttypes>
#include <cstdio>
#include <iostream>

#include "files.h"
#include "message.h"

namespace quorb {
namespace {

class DumpPrinter : public RecordingSink {
public:
  explicit DumpPrinter(double rate) : rate_(rate) {}
  ~DumpPrinter() override { flush(); }

  void beginTake(uint64_t number) override {
    number_ = number;
    announced_ = false;
  }
  void event(const RecordedEvent& event) override {
    char line[160];
    if (!announced_) {
      std::snprintf(line, sizeof line, "--- take %" PRIu64 " begins at record %" PRIu64 "\n",
                    number_, event.index);
      buffer_ += line;
      announced_ = true;
    }
    std::snprintf(line, sizeof line, "%8" PRIu64 " %12" PRIu64 " ", event.index, event.ticks);
    buffer_ += line;
    if (rate_ > 0) {
      std::snprintf(line, sizeof line, "%14s s ", seconds(event.ticks, rate_).c_str());
      buffer_ += line;
    }
    std::snprintf(line, sizeof line, " 0x%08X  ", unsigned(event.message));
    buffer_ += line;
    buffer_ += describeMessage(event.message);
    if (event.ahead) buffer_ += "  [stamped as a pause ended]";
    buffer_ += '\n';
    if (buffer_.size() >= 1 << 16) flush();
  }
  void flush() {
    std::cout << buffer_;
    buffer_.clear();
  }

private:
  double rate_; // 0: no seconds column
  uint64_t number_ = 0;
  bool announced_ = false;
  std::string buffer_; // lines go out in blocks; the dump is never held whole
};

} // namespace

void dump(const std::string& file, const Settings& settings, RunNotes& notes) {
  const double rate = settings.rate.value_or(0);
  const std::vector<uint8_t> bytes = readWholeFile(file, "recording");
  WarningSink check;
  const ReadTotals totals = readChecked(file, bytes, check);
  if (totals.takes == 0)
    std::cout << "(no records)\n";
  else
    std::cout << "  record        ticks " << (rate > 0 ? "       seconds   " : "")
              << " word        message\n";
  {
    DumpPrinter printer(rate);
    readRecording(bytes.data(), bytes.size(), printer);
  }
  std::cout.flush();
  if (rate > 0) notes.sayRate(std::cerr); // where the seconds came from
  check.warnings.print(std::cerr, "quorb: warning: ");
}

} // namespace quorb
