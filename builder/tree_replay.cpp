#include "tree_replay.h"

#include <cstring>

namespace quiver {

void TreeReplay::Reset(int r) {
  std::memset(stamp_, 0, sizeof stamp_);
  clock_ = 1;
  stamp_[r] = clock_;
  below_[r] = kNoNode;
  above_[r] = kNoNode;
}

void TreeReplay::Link(int below, int node, int above) {
  below_[node] = static_cast<std::uint16_t>(below);
  above_[node] = static_cast<std::uint16_t>(above);
  above_[below] = static_cast<std::uint16_t>(node);
  below_[above] = static_cast<std::uint16_t>(node);
}

void TreeReplay::RemovePosition(int p) {
  const std::uint32_t stamp = stamp_[p];
  if (stamp == 0) return;
  const int below = below_[p];
  const int above = above_[p];
  // With both children, p's predecessor (its lower neighbour) takes its
  // place. No node has stamp 0, so a missing neighbour never counts.
  if (stamp_[below] > stamp && stamp_[above] > stamp) stamp_[below] = stamp;
  above_[below] = static_cast<std::uint16_t>(above);
  below_[above] = static_cast<std::uint16_t>(below);
  stamp_[p] = 0;
}

int TreeReplay::InsertPosition(int n, NeighbourRecord record, int& best_position) {
  const int below = RecordBelow(record);
  const int above = RecordAbove(record);
  switch (RecordKind(record)) {
    case NeighbourKind::kEqual:
      stamp_[n] = stamp_[below];
      stamp_[below] = 0;
      Link(below_[below], n, above_[below]);
      best_position = below;
      return kLookAheadSize;
    case NeighbourKind::kBelow:
      best_position = below;
      break;
    case NeighbourKind::kAbove:
      best_position = above;
      break;
    case NeighbourKind::kTie:
      best_position = stamp_[below] > stamp_[above] ? below : above;
      break;
  }
  stamp_[n] = ++clock_;
  Link(below, n, above);
  return RecordLength(record);
}

}  // namespace quiver
