#ifndef QUORB_TOOLS_GRID_PATHS_H
#define QUORB_TOOLS_GRID_PATHS_H

// The trackers' way back, kept only as far back as their best paths still differ.
//
// A tracker stores, for every state of every frame, the way back to the step before: one byte.
// Kept whole, that grows with the take's length, not with its notes (an hour of slow playing
// would need far more than its records). But the best paths into the states a later frame may
// still build on join, a few beats back wherever something is played, into one path that every
// later path follows. So every SETTLE_EVERY frames the ways back from all those states are
// followed at once (Viterbi decoders' traceback with path merging): where they have all met,
// the path up to there is settled, its frames kept, and the ways of the frames before let go.
// The path found at the end is the same as with every way kept.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorb::grid {

// Frames between attempts to settle: 80 s of the take, a small share of the tracking's work.
constexpr size_t SETTLE_EVERY = 8192;

// A state of a frame: `state` indexes the frame's states (a tracker may count several kinds of
// state per byte of its row); none at all for `state` < 0.
struct PathNode {
  size_t frame = 0;
  int state = -1;
};

class PathMemory {
public:
  // Frames are given as a row of `rowBytes` per frame and a `centre` (the frame's period band),
  // from frame 0 on; `states` nodes per frame.
  PathMemory(size_t rowBytes, int states) : rowBytes_(rowBytes), states_(states) {}

  uint8_t* add(int centre) {
    rows_.resize(rows_.size() + rowBytes_, 0);
    centres_.push_back(centre);
    return &rows_[rows_.size() - rowBytes_];
  }
  size_t frames() const { return base_ + centres_.size(); }
  size_t kept() const { return centres_.size(); } // frames whose ways are still held
  const uint8_t* row(size_t frame) const { return &rows_[(frame - base_) * rowBytes_]; }
  // 0 before the first row kept, where no path may lead.
  int centre(size_t frame) const { return frame >= base_ ? centres_[frame - base_] : 0; }

  // Settles the path that the best paths into every live node of the last `reach` frames added
  // come back through, if they all meet. The caller's contract: no step from a later frame leads
  // back further than `reach` frames, and the path will end at a later frame. `live(frame,
  // state)`: the node may begin a later step (a finite score); `back(node)`: the node's step
  // before, a node with state < 0 for none.
  template <class Live, class Back> void settle(size_t reach, Live live, Back back) {
    const size_t last = frames() - 1, low = last + 1 > base_ + reach ? last + 1 - reach : base_;
    const size_t n = size_t(states_);
    std::vector<bool> marked((last + 1 - base_) * n, false); // a bit a node
    std::vector<uint32_t> inFrame(last + 1 - base_, 0); // marked nodes, to skip frames with none
    size_t open = 0;                                    // marked nodes not yet followed back
    for (size_t f = low; f <= last; ++f)
      for (int s = 0; s < states_; ++s)
        if (live(f, s)) marked[(f - base_) * n + size_t(s)] = true, ++inFrame[f - base_], ++open;
    for (size_t f = last + 1; f-- > base_ && open > 0;)
      for (int s = states_; s-- > 0 && inFrame[f - base_] > 0;) {
        if (!marked[(f - base_) * n + size_t(s)]) continue;
        if (open == 1) return settleAt({f, s}, back); // every path comes through it
        --open, --inFrame[f - base_];
        const PathNode before = back(PathNode{f, s});
        if (before.state < 0) continue;
        if (before.frame < base_) return; // behind the settled path: cannot happen
        const size_t mark = (before.frame - base_) * n + size_t(before.state);
        if (!marked[mark]) marked[mark] = true, ++inFrame[before.frame - base_], ++open;
      }
  }

  // The frames of the best path ending at `end`, in order.
  template <class Back> std::vector<size_t> path(PathNode end, Back back) const {
    std::vector<size_t> tail;
    for (PathNode at = end; at.state >= 0; at = back(at)) {
      tail.push_back(at.frame);
      if (joined_ && at.frame <= base_) break; // the settled path's last node
    }
    std::vector<size_t> frames = settled_;
    frames.insert(frames.end(), tail.rbegin(), tail.rend());
    return frames;
  }

private:
  // Every later path comes through `node`: the path before it is settled, and it becomes the
  // first node kept.
  template <class Back> void settleAt(PathNode node, Back back) {
    if (joined_ && node.frame == joinedAt_.frame) return; // nothing new
    std::vector<size_t> span;
    for (PathNode at = node; at.state >= 0; at = back(at)) {
      span.push_back(at.frame);
      if (joined_ && at.frame == joinedAt_.frame && at.state == joinedAt_.state) break;
    }
    settled_.insert(settled_.end(), span.rbegin(), span.rend() - 1);
    joined_ = true;
    joinedAt_ = node;
    rows_.erase(rows_.begin(), rows_.begin() + long((node.frame - base_) * rowBytes_));
    centres_.erase(centres_.begin(), centres_.begin() + long(node.frame - base_));
    base_ = node.frame;
  }

  size_t rowBytes_;
  int states_;
  size_t base_ = 0; // the frame of the first row kept
  std::vector<uint8_t> rows_;
  std::vector<int> centres_;
  std::vector<size_t> settled_; // the path's frames before joinedAt_
  bool joined_ = false;         // whether the paths have met yet
  PathNode joinedAt_;           // where they last did
};

} // namespace quorb::grid

#endif // QUORB_TOOLS_GRID_PATHS_H
