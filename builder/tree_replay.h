// The match tree's shape, kept without the tree. Every string in the tree
// carries a stamp: when it was filed, or the stamp of the node whose place
// it took (an equal string taking the older one's place, a predecessor
// taking a removed node's). Nodes then sit as in a heap of stamps, so of two
// neighbours in string order the one with the later stamp is the deeper, and
// a node has a lower child exactly when its lower neighbour's stamp is later
// than its own. That is all a coder needs from the shape.
#pragma once

#include <cstdint>

#include "neighbour_record.h"
#include "stream_format.h"

namespace quiver {

class TreeReplay {
 public:
  // Position r alone, as a new member's tree starts. Only positions below
  // `span` can be met: those of a member shorter than the window and the
  // 17 after them.
  void Reset(int r, int span = kWindowSize);
  // Both are inline: the coding thread calls them for every byte.
  void RemovePosition(int p) {
    const std::uint32_t stamp = stamp_[p];
    if (stamp == 0) return;
    const int below = below_[p];
    const int above = above_[p];
    // With both children, p's predecessor (its lower neighbour) takes its
    // place. No node has stamp 0, so a missing neighbour never counts, and
    // slot 0 keeps its 0. Stored without a branch, which would be a guess.
    const std::uint32_t below_stamp = stamp_[below];
    const bool both = (below_stamp > stamp) & (stamp_[above] > stamp);
    stamp_[below] = both ? stamp : below_stamp;
    above_[below] = static_cast<std::uint16_t>(above);
    below_[above] = static_cast<std::uint16_t>(below);
    stamp_[p] = 0;
  }
  // Files n (not 0) with the neighbours the record gives; returns the best
  // length and sets best_position as InsertPosition would.
  int InsertPosition(int n, NeighbourRecord record, int& best_position) {
    const int below = RecordBelow(record);
    const int above = RecordAbove(record);
    const NeighbourKind kind = RecordKind(record);
    if (kind == NeighbourKind::kEqual) {
      stamp_[n] = stamp_[below];
      stamp_[below] = 0;
      Link(below_[below], n, above_[below]);
      best_position = below;
      return kLookAheadSize;
    }
    // Which neighbour wins is as good as random: chosen by masks, not
    // branches.
    const int deeper = Select(stamp_[below] > stamp_[above], below, above);
    best_position = Select(kind == NeighbourKind::kBelow, below,
                           Select(kind == NeighbourKind::kAbove, above, deeper));
    stamp_[n] = ++clock_;
    Link(below, n, above);
    return RecordLength(record);
  }

 private:
  static int Select(bool condition, int if_true, int if_false) {
    const int mask = -static_cast<int>(condition);
    return (if_true & mask) | (if_false & ~mask);
  }
  void Link(int below, int node, int above) {
    below_[node] = static_cast<std::uint16_t>(below);
    above_[node] = static_cast<std::uint16_t>(above);
    above_[below] = static_cast<std::uint16_t>(node);
    below_[above] = static_cast<std::uint16_t>(node);
  }

  std::uint32_t clock_ = 0;
  // 0 for a position that is not in the tree; index 0 is a scratch slot.
  std::uint32_t stamp_[kWindowSize];
  // Neighbours in string order, 0 for none.
  std::uint16_t below_[kWindowSize];
  std::uint16_t above_[kWindowSize];
};

}  // namespace quiver
