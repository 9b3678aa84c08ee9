// Weighted onsets.

#include "grid_parts.h"

#include <algorithm>
#include <cmath>

namespace quorb::grid {

std::vector<PlayedNote> sortedNotes(std::vector<PlayedNote> notes) {
  notes.erase(std::remove_if(notes.begin(), notes.end(),
                             [](const PlayedNote& n) {
                               return !std::isfinite(n.start) || !std::isfinite(n.end);
                             }),
              notes.end());
  std::sort(notes.begin(), notes.end(), [](const PlayedNote& a, const PlayedNote& b) {
    return a.start != b.start ? a.start < b.start : a.pitch < b.pitch;
  });
  return notes;
}

std::vector<Onset> makeOnsets(const std::vector<PlayedNote>& sorted) {
  std::vector<Onset> onsets;
  std::vector<double> loud; // per onset: its loudest note, 0..1
  std::vector<int> count;
  std::vector<double> bassHeld; // per onset: how long its lowest note sounds
  for (size_t i = 0; i < sorted.size();) {
    const double first = sorted[i].start;
    Onset o{first, 0, 127};
    int loudest = 0, n = 0;
    double held = 0;
    for (; i < sorted.size() && sorted[i].start - sorted[i - (n > 0)].start <= MERGE &&
           sorted[i].start - first <= ROLL;
         ++i, ++n) {
      if (sorted[i].pitch <= o.lowest) held = sorted[i].end - sorted[i].start;
      o.lowest = std::min<int>(o.lowest, sorted[i].pitch);
      loudest = std::max<int>(loudest, sorted[i].velocity);
    }
    onsets.push_back(o);
    loud.push_back(loudest / 127.0);
    count.push_back(n);
    bassHeld.push_back(held);
  }
  // Bass is relative: a note is low against the lowest notes around it, so that a piece played
  // high on the keyboard still has a bass.
  const double around = 3.0; // seconds each side
  size_t from = 0, to = 0;
  double lowSum = 0;
  for (size_t k = 0; k < onsets.size(); ++k) {
    while (to < onsets.size() && onsets[to].time <= onsets[k].time + around)
      lowSum += onsets[to++].lowest;
    while (onsets[from].time < onsets[k].time - around)
      lowSum -= onsets[from++].lowest;
    const double localLow = lowSum / double(to - from);
    const double bass = 1 + 0.5 * std::clamp((localLow - onsets[k].lowest) / 12.0, 0.0, 1.0);
    // A durational accent that saturates (Parncutt 1994): the gap to the next onset.
    const double gap = k + 1 < onsets.size() ? onsets[k + 1].time - onsets[k].time : 1.0;
    const double lasting = 0.5 + (1 - std::exp(-gap / 0.4));
    const double chord = 1 + 0.25 * std::min(count[k] - 1, 4);
    const double velocity = loud[k] * 127 - 64;
    onsets[k].weight = std::exp2(velocity / 20) * chord * lasting * bass;
    // Where the beat falls: a pianist voices the melody loudest, wherever it lies against the
    // beat, while the bass held under the harmony sits on the beat. So loudness doubles only
    // every 60 steps here, and a held lowest note adds up to as much again, saturating like
    // the gap.
    const double bassAccent = 1 + (1 - std::exp(-bassHeld[k] / 0.4));
    // The lowest voice's own rhythm. An accompaniment puts a bass note on the beat and chords
    // above it after the beat, the chords often as loud and as many-voiced as the bass is
    // not; what tells them apart is that the bass moves: (1) the time to the next onset whose
    // lowest note lies no more than a major third above this one's saturates like the gap, so
    // the bass keeps its accent through the chords after it while those, ended by the next
    // bass note, do not; (2) a lowest note that differs from the last one played in its
    // register (within a fourth) counts double: the bass changes pitch with the harmony on the
    // beat while the chords after it repeat theirs.
    double voiceGap = 2.0; // seconds; the accent grows little beyond
    for (size_t j = k + 1; j < onsets.size() && onsets[j].time < onsets[k].time + voiceGap; ++j)
      if (onsets[j].lowest <= onsets[k].lowest + 4) voiceGap = onsets[j].time - onsets[k].time;
    const double voiceAccent = 1 + (1 - std::exp(-voiceGap / 1.2));
    bool moved = true;
    for (size_t j = k; j-- > 0 && onsets[j].time > onsets[k].time - 2.0;)
      if (std::abs(onsets[j].lowest - onsets[k].lowest) <= 5) {
        moved = onsets[j].lowest != onsets[k].lowest;
        break;
      }
    const double motion = moved ? 2 : 1;
    onsets[k].salience =
        std::exp2(velocity / 60) * chord * lasting * bass * bassAccent * voiceAccent * motion;
  }
  double total = 0, salient = 0;
  for (const Onset& o : onsets)
    total += o.weight, salient += o.salience;
  for (Onset& o : onsets) {
    o.weight *= double(onsets.size()) / total;
    o.salience *= double(onsets.size()) / salient;
  }
  return onsets;
}

} // namespace quorb::grid
