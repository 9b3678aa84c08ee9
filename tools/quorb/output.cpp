#include "output.h"

#include <cstdio>
#include <filesystem>

#include "console.h"
#include "failures.h"
#include "files.h"
#include "smf_writer.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace quorb {
namespace {

// What an output holds: a named OUT that exists is replaced only when it starts like one.
struct Kind {
  const char* verb; // what is done to the recording: "converted"
  const char* what; // "a MIDI file (a recording?)"
  const char* magic[2];
};
const Kind MIDI = {"converted", "a MIDI file (a recording?)", {"MThd", nullptr}};
const Kind PICTURE = {"drawn", "a picture page (HTML)", {"<!DOCTYPE html", "<!doctype html"}};

// True when a named OUT is not a regular file (standard output, a device, a pipe): written
// straight, with no report mixed in. Refuses the input itself, a folder, and an existing file
// that is not of the kind written.
bool checkNamed(const std::string& out, const std::string& in, const Kind& kind) {
  if (out == STDOUT_NAME) return true;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(pathOf(out), error);
  if (!std::filesystem::exists(status)) return false;
  if (sameFile(out, in))
    throw UsageError(out + " is the recording being " + kind.verb + ": it is not overwritten");
  if (std::filesystem::is_directory(status)) throw FileError(out + ": a folder, not a file");
  if (!std::filesystem::is_regular_file(status)) return true;
  if (std::filesystem::file_size(pathOf(out), error) == 0) return false;
  for (const char* magic : kind.magic)
    if (magic != nullptr && fileStartsWith(out, magic)) return false;
  throw UsageError(out + " exists and is not " + kind.what +
                   ": it is not overwritten; remove it or choose another name");
}

// OUT as named, or `implied` (the next free name when that is taken).
Destination destination(const std::string& in, const std::string& named, const std::string& implied,
                        const Kind& kind) {
  Destination to;
  to.wanted = named.empty() ? implied : named;
  to.name = named.empty() ? freeName(implied) : named;
  to.direct = !named.empty() && checkNamed(named, in, kind);
  to.replace = !named.empty();
  std::error_code error;
  to.replaces = to.replace && !to.direct && std::filesystem::exists(pathOf(named), error);
  return to;
}

// Opens a direct destination for writing: standard output in binary, or the device named.
std::FILE* openDirect(const Destination& to) {
  if (to.name != STDOUT_NAME) {
    std::FILE* file = std::fopen(to.name.c_str(), "wb");
    if (file == nullptr) throw FileError("cannot write " + to.name);
    return file;
  }
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  return stdout;
}

void closeDirect(const Destination& to, std::FILE* file, bool ok) {
  ok = std::fflush(file) == 0 && ok;
  if (file != stdout) ok = std::fclose(file) == 0 && ok;
  if (!ok) throw FileError("cannot write " + to.name);
}

// FILE-1.mid, FILE-2.mid, ... from the output name FILE.mid.
std::string splitName(const std::string& out, uint64_t number) {
  std::filesystem::path path = pathOf(out);
  const std::string extension = textOf(path.extension());
  path.replace_extension();
  return textOf(path) + "-" + std::to_string(number) + (extension.empty() ? ".mid" : extension);
}

} // namespace

void checkNamedOutput(const std::string& in, const std::string& named, bool split) {
  if (named != STDOUT_NAME) return;
  if (split) throw UsageError("--split writes files: give a file name, not -");
  if (isConsole(stdout))
    throw UsageError("a MIDI file is not written to a console; redirect standard output to a "
                     "file (quorb tomidi " +
                     in + " - > take.mid), or give a file name instead of -");
}

std::vector<Output> planOutputs(const std::string& in, const std::string& named, bool split,
                                const std::vector<MidiConverter::Track>& tracks) {
  std::vector<Output> outputs;
  const std::string base = named.empty() ? textOf(pathOf(in).replace_extension(".mid")) : named;
  if (split) {
    std::vector<std::string> taken;
    for (const MidiConverter::Track& track : tracks) {
      const std::string wanted = splitName(base, track.number);
      taken.push_back(freeName(wanted, taken));
      Output output;
      output.name = taken.back();
      output.wanted = wanted;
      output.tracks.push_back(&track);
      outputs.push_back(output);
    }
    return outputs;
  }
  outputs.push_back({destination(in, named, base, MIDI), {}});
  for (const MidiConverter::Track& track : tracks)
    outputs.back().tracks.push_back(&track);
  return outputs;
}

std::string wrote(const Destination& destination) {
  if (destination.replaces) return "replaced " + destination.name;
  std::string said =
      "wrote " + (destination.name == STDOUT_NAME ? "standard output" : destination.name);
  if (destination.name != destination.wanted)
    said += " (" + destination.wanted + " is there already)";
  return said;
}

void writeOutput(const Output& output, uint16_t ticksPerQuarter) {
  const int format = formatFor(output.tracks.size());
  std::vector<const std::vector<uint8_t>*> tracks;
  for (const MidiConverter::Track* track : output.tracks)
    tracks.push_back(&track->data);
  if (!output.direct) {
    AtomicFile file(output.name, output.replace);
    writeSmf([&](const uint8_t* data, size_t size) { file.write(data, size); }, format,
             ticksPerQuarter, tracks);
    file.commit();
    return;
  }
  std::FILE* file = openDirect(output);
  bool ok = true;
  try {
    writeSmf([&](const uint8_t* data,
                 size_t size) { ok = ok && std::fwrite(data, 1, size, file) == size; },
             format, ticksPerQuarter, tracks);
  } catch (...) {
    if (file != stdout) std::fclose(file);
    throw;
  }
  closeDirect(output, file, ok);
}

Destination pictureDestination(const std::string& in, const std::string& named) {
  return destination(in, named, textOf(pathOf(in).replace_extension(".html")), PICTURE);
}

void writeText(const Destination& to, const std::string& text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  if (!to.direct) {
    AtomicFile file(to.name, to.replace);
    file.write(bytes, text.size());
    file.commit();
    return;
  }
  std::FILE* file = openDirect(to);
  closeDirect(to, file, std::fwrite(bytes, 1, text.size(), file) == text.size());
}

} // namespace quorb
