// Writes the takes with known grids (tools/grid/takes.h) as recordings, for the test of the grid
// through the built quorb (grid_test.py): NAME.quorb, the take as the module records it at 44100
// ticks a second, and NAME.grid, its truth: "meter N D BPM_FROM BPM_TO", then "b SECONDS" for
// each beat and "db SECONDS" for each bar line. few.quorb has too few notes for a pulse.
//   make_grid_takes FOLDER
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "takes.h"

namespace {

constexpr double RATE = 44100;

// The notes as records, Note On and Note Off, in time order from time 0: the shift that makes
// the first one 0 or later.
void writeTake(const std::string& path, const std::vector<quorb::PlayedNote>& notes, double shift) {
  std::vector<std::pair<uint32_t, uint32_t>> records;
  for (const quorb::PlayedNote& note : notes) {
    const auto at = [&](double seconds) {
      return uint32_t(std::llround((seconds + shift) * RATE));
    };
    records.push_back(
        {at(note.start), 0x90u | uint32_t(note.pitch) << 8 | uint32_t(note.velocity) << 16});
    records.push_back({at(note.end), 0x80u | uint32_t(note.pitch) << 8 | 0x40u << 16});
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::ofstream out(path, std::ios::binary);
  for (const auto& [time, word] : records)
    for (uint32_t value : {time, word})
      for (int shiftBits = 0; shiftBits < 32; shiftBits += 8)
        out.put(char(value >> shiftBits));
}

double shiftOf(const std::vector<quorb::PlayedNote>& notes) {
  double first = 0;
  for (const quorb::PlayedNote& note : notes)
    first = std::min(first, note.start);
  return -first;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_grid_takes FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  for (const quorb::takes::TakeKind& kind : quorb::takes::kinds()) {
    const quorb::takes::Take take = quorb::takes::makeTake(kind, 7);
    std::string name = kind.name;
    std::replace(name.begin(), name.end(), ' ', '_');
    std::replace(name.begin(), name.end(), '/', '-');
    const double shift = shiftOf(take.notes);
    writeTake(folder + "/" + name + ".quorb", take.notes, shift);
    std::ofstream truth(folder + "/" + name + ".grid");
    truth << "meter " << kind.numerator << " " << kind.denominator << " " << kind.bpmFrom << " "
          << kind.bpmTo << "\n";
    for (double beat : take.beats)
      truth << "b " << beat + shift << "\n";
    for (double bar : take.downbeats)
      truth << "db " << bar + shift << "\n";
  }
  // Too few notes to tell a pulse by.
  const std::vector<quorb::PlayedNote> few = quorb::takes::randomNotes(5, 4, 7);
  writeTake(folder + "/few.quorb", few, shiftOf(few));
  return 0;
}
