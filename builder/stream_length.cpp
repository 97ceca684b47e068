#include "stream_length.h"

#include <algorithm>
#include <vector>

#include "stream_format.h"
#include "thread_scratch.h"

namespace quiver {
namespace {

// The strings the tree holds when the one at offset k is filed: those at
// offsets k - 4079 to k - 1 (each goes when the input reaches 17 places
// before it in the ring), but never one at window position 0.
constexpr std::int64_t kHeldStrings = kWindowSize - kLookAheadSize;

}  // namespace

std::int64_t StreamLength(const std::uint8_t* bytes, std::int64_t length,
                          const std::uint8_t* past_end, std::int64_t work_limit) {
  const auto at = [&](std::int64_t offset) {
    return offset < length ? bytes[offset] : past_end[offset - length];
  };
  // Chains of strings by their first two bytes, newest first, in offsets
  // counted on from the last member's on this thread, so that none needs
  // clearing but when those counts would run out.
  StringChains& chains = ThreadStringChains();
  if (chains.next_base > StringChains::kMaxBase - length - kWindowSize) {
    std::fill(chains.head.begin(), chains.head.end(), -1);
    chains.next_base = 0;
  }
  const auto base = static_cast<std::int32_t>(chains.next_base);
  chains.next_base += length + kWindowSize;
  std::int64_t bits = kEndTokenBits;
  std::int64_t work = 0;
  std::int64_t token_end = 0;
  int key = at(0);
  for (std::int64_t k = 0; k < length; ++k) {
    key = (key << 8 | at(k + 1)) & 0xFFFF;
    const bool filed = PositionOfOffset(k) != 0;
    if (k == token_end) {
      int best = 0;
      if (k > 0 && filed) {
        const std::int64_t oldest = base + std::max<std::int64_t>(0, k - kHeldStrings);
        for (std::int64_t j = chains.head[key]; j >= oldest && best < kMaxMatchLength;
             j = chains.previous[j & kPositionMask]) {
          if (++work > work_limit) return -1;
          int same = 2;
          while (same < kMaxMatchLength && at(j - base + same) == at(k + same)) ++same;
          best = std::max(best, same);
        }
      }
      const auto cover = static_cast<int>(std::min<std::int64_t>(best, length - k));
      bits += cover < kMinMatchLength ? kLiteralTokenBits : kMatchTokenBits;
      token_end = k + (cover < kMinMatchLength ? 1 : cover);
    }
    if (filed) {
      std::int32_t& head = chains.head[key];
      chains.previous[(base + k) & kPositionMask] = head;
      head = static_cast<std::int32_t>(base + k);
    }
  }
  return (bits + 7) / 8;
}

}  // namespace quiver
