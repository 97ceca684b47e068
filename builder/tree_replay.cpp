#include "tree_replay.h"

#include <cstring>

namespace quiver {

void TreeReplay::Reset(int r, int span) {
  std::memset(stamp_, 0, sizeof stamp_[0] * static_cast<std::size_t>(span));
  clock_ = 1;
  stamp_[r] = clock_;
  below_[r] = kNoNode;
  above_[r] = kNoNode;
}

}  // namespace quiver
