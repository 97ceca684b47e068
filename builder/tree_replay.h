// The match tree's shape, kept without the tree. Every string in the tree
// carries a stamp: when it was filed, or the stamp of the node whose place
// it took (an equal string taking the older one's place, a predecessor
// taking a removed node's). Nodes then sit as in a heap of stamps, so of two
// neighbours in string order the one with the later stamp is the deeper, and
// a node has a lower child exactly when its lower neighbour's stamp is later
// than its own. That is all a coder needs from the shape.
#pragma once

#include <cstdint>

#include "lzss_encoder.h"
#include "match_tree.h"

namespace quiver {

class TreeReplay {
 public:
  // Position r alone, as ResetTree leaves the tree.
  void Reset(int r);
  void RemovePosition(int p);
  // Files n (not 0) with the neighbours the record gives; returns the best
  // length and sets best_position as InsertPosition would.
  int InsertPosition(int n, NeighbourRecord record, int& best_position);

 private:
  void Link(int below, int node, int above);

  std::uint32_t clock_ = 0;
  // 0 for a position that is not in the tree; index 0 is a scratch slot.
  std::uint32_t stamp_[kWindowSize];
  // Neighbours in string order, 0 for none.
  std::uint16_t below_[kWindowSize];
  std::uint16_t above_[kWindowSize];
};

}  // namespace quiver
