#include "settings_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <ostream>

#include "failures.h"
#include "files.h"
#include "numbers.h"
#include "report.h"
#include "utf8.h"

namespace quorb {
namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string lowered(std::string text) {
  for (char& c : text)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string rateText(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", rate);
  return text;
}

// What a message says of a line that is not a setting: the line itself when it is short text.
std::string notASetting(const std::string& line) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(line.data());
  for (size_t at = 0; at < line.size();) {
    const size_t length = utf8Length(bytes + at, line.size() - at);
    if (length == 0 || length > line.size() - at || bytes[at] < 0x20)
      return "not text; the file holds lines like rate = 48000";
    at += length;
  }
  return (line.size() <= 60 ? "\"" + line + "\"" : "a line of " + plural(line.size(), "byte")) +
         " is not a setting quorb knows; it knows rate = 48000";
}

} // namespace

std::string settingsFilePath() {
  const std::string folder = programFolder();
  return folder.empty() ? "" : textOf(pathOf(folder) / SETTINGS_FILE_NAME);
}

std::optional<double> readSettingsRate(const std::string& path) {
  std::error_code error;
  if (path.empty() || !std::filesystem::exists(pathOf(path), error)) return std::nullopt;
  const std::vector<uint8_t> bytes = readWholeFile(path, "settings file");
  std::string text(bytes.begin(), bytes.end());
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3); // as Notepad may save it
  std::optional<double> rate;
  size_t number = 0, rateLine = 0;
  for (size_t start = 0; start < text.size(); ++number) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = trimmed(text.substr(start, end - start));
    start = end + 1;
    const auto refuse = [&](const std::string& why) {
      return FileError(path + " line " + std::to_string(number + 1) + ": " + why +
                       "\nmend the line, or write the file afresh with quorb set rate 48000 "
                       "(your host's rate)");
    };
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos || lowered(trimmed(line.substr(0, equals))) != "rate")
      throw refuse(notASetting(line));
    if (rateLine != 0)
      throw refuse("the rate is set again (first on line " + std::to_string(rateLine) + ")");
    rateLine = number + 1;
    try {
      rate = parseRate("rate", trimmed(line.substr(equals + 1)));
    } catch (const UsageError& wrong) {
      throw refuse(wrong.what());
    }
  }
  return rate;
}

void writeSettingsRate(const std::string& path, double rate) {
  const std::string text = "# quorb's settings, read by every quorb command; quorb set rate N "
                           "writes them.\n# rate: the host's clock ticks (samples) per second.\n"
                           "rate = " +
                           rateText(rate) + "\n";
  try {
    AtomicFile file(path);
    file.write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    file.commit();
  } catch (const FileError& error) {
    throw FileError(std::string(error.what()) +
                    "\nquorb keeps its settings in quorb.ini beside the program; where that folder "
                    "may not be written (as Program Files may not), move quorb's folder to one of "
                    "your own, or give --rate to each command instead");
  }
}

void applySettingsFile(Settings& settings, const std::string& path) {
  if (settings.rate) return;
  settings.rate = readSettingsRate(path);
  if (!settings.rate) return;
  settings.rateFile = path;
  settings.midi.rate = *settings.rate;
}

std::string rateNote(const Settings& settings) {
  if (settings.rate && settings.rateFile.empty()) return "";
  if (settings.rate)
    return "no --rate given: " + rateText(*settings.rate) +
           " clock ticks per second assumed, from the settings file " + settings.rateFile +
           " (quorb set rate N changes it)";
  return "no --rate given: " + rateText(DEFAULT_RATE) +
         " clock ticks per second assumed (the default: the host at 44.1 kHz; for a host at "
         "48 kHz, quorb set rate 48000)";
}

void setSetting(const std::string& path, const std::string& name,
                const std::optional<std::string>& value, std::ostream& out) {
  if (lowered(name) != "rate")
    throw UsageError("quorb set knows one setting, rate (the host's clock ticks per second): "
                     "quorb set rate 48000, not " +
                     name);
  if (path.empty()) throw FileError("cannot tell where quorb is, so cannot keep its settings");
  if (!value) {
    const std::optional<double> rate = readSettingsRate(path);
    if (rate)
      out << "quorb: rate = " << rateText(*rate) << ", from the settings file " << path
          << "; every command takes it unless given --rate\n";
    else
      out << "quorb: rate = " << rateText(DEFAULT_RATE) << ", the default (no rate in " << path
          << "); quorb set rate 48000 sets another (for a host at 48 kHz)\n";
    return;
  }
  const double rate = parseRate("rate", *value);
  writeSettingsRate(path, rate);
  out << "quorb: rate = " << rateText(rate) << " written to " << path
      << "; every command takes it unless given --rate\n";
}

} // namespace quorb
