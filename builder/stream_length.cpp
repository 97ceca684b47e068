#include "stream_length.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "stream_format.h"
#include "thread_scratch.h"

namespace quiver {
namespace {

// The strings the tree holds when the one at offset k is filed: those at
// offsets k - 4079 to k - 1 (each goes when the input reaches 17 places
// before it in the ring), but never one at window position 0.
constexpr std::int64_t kHeldStrings = kWindowSize - kLookAheadSize;

// The member goes through in blocks of a window's positions: first every
// string of a block is filed, marking those that have an earlier string of
// their first two bytes within reach (few, on data -s stores raw), then
// the parse runs over the marked ones alone, every other position being a
// literal. The chains keep two windows of links (StringChains::kLinks), so
// a string reached while parsing a block, at most kHeldStrings before it,
// still has its own link when the block's last string is filed.
static_assert(StringChains::kLinks >= kWindowSize + kHeldStrings);
static_assert(-StringChains::kNone - 1 >= kHeldStrings);
// A block's last position is window position 0: never filed, never searched.
static_assert(PositionOfOffset(kWindowSize - 1) == 0);

// How many of the 8 bytes at `a` and `b` are equal before the first that
// differs, or 8.
int EqualBytes(const std::uint8_t* a, const std::uint8_t* b) {
  std::uint64_t x;
  std::uint64_t y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  const std::uint64_t differ = x ^ y;
  if constexpr (std::endian::native == std::endian::little)
    return std::countr_zero(differ) / 8;
  else
    return std::countl_zero(differ) / 8;
}

// The length of the match of the strings at `a` and `b`, whose first two
// bytes are equal, up to kMaxMatchLength.
int MatchLength(const std::uint8_t* a, const std::uint8_t* b) {
  static_assert(kMaxMatchLength == 2 + 8 + 7);
  const int first = EqualBytes(a + 2, b + 2);
  return first < 8 ? 2 + first : 9 + EqualBytes(a + 9, b + 9);
}

}  // namespace

std::int64_t StreamLength(const std::uint8_t* bytes, std::int64_t length, std::int64_t work_limit) {
  // Strings are filed by their offset counted on from the last member's on
  // this thread, so that no chain needs clearing but when those counts
  // would run out; a member's offsets start a window past the last one's,
  // out of reach of its strings.
  StringChains& chains = ThreadStringChains();
  if (chains.next_base > StringChains::kMaxBase - length - kWindowSize) {
    std::fill(std::begin(chains.head), std::end(chains.head), StringChains::kNone);
    chains.next_base = 0;
  }
  const auto base = static_cast<std::int32_t>(chains.next_base);
  chains.next_base += length + kWindowSize;
  constexpr std::uint32_t kLinkMask = StringChains::kLinks - 1;
  std::int64_t literals = 0;
  std::int64_t matches = 0;
  std::int64_t work = 0;
  std::int64_t token_end = 0;
  for (std::int64_t start = 0; start < length; start += kWindowSize) {
    const std::int64_t end = std::min<std::int64_t>(length, start + kWindowSize);
    const std::int64_t filed_end = std::min<std::int64_t>(end, start + kWindowSize - 1);
    std::uint64_t reached[kWindowSize / 64];
    int words = 0;
    for (std::int64_t from = start; from < end; from += 64) {
      const int count = static_cast<int>(std::clamp<std::int64_t>(filed_end - from, 0, 64));
      std::uint64_t marks = 0;
      for (int n = 0; n < count; ++n) {
        const std::int64_t k = from + n;
        const int key = bytes[k] << 8 | bytes[k + 1];
        const auto position = static_cast<std::uint32_t>(base + k);
        const std::int32_t newest = chains.head[key];
        chains.links[position & kLinkMask] = newest;
        chains.head[key] = static_cast<std::int32_t>(position);
        const bool in_reach = position - static_cast<std::uint32_t>(newest) - 1 < kHeldStrings;
        marks |= static_cast<std::uint64_t>(in_reach) << n;
      }
      reached[words++] = marks;
    }
    for (int w = 0; w < words; ++w) {
      for (std::uint64_t marks = reached[w]; marks != 0; marks &= marks - 1) {
        const std::int64_t k = start + 64 * w + std::countr_zero(marks);
        if (k < token_end) continue;
        literals += k - token_end;
        const std::int64_t oldest = base + std::max<std::int64_t>(0, k - kHeldStrings);
        int best = 0;
        for (std::int64_t j = chains.links[static_cast<std::uint32_t>(base + k) & kLinkMask];
             j >= oldest && best < kMaxMatchLength; j = chains.links[j & kLinkMask]) {
          if (++work > work_limit) return -1;
          best = std::max(best, MatchLength(bytes + (j - base), bytes + k));
        }
        const auto cover = static_cast<int>(std::min<std::int64_t>(best, length - k));
        if (cover < kMinMatchLength) {
          ++literals;
          token_end = k + 1;
        } else {
          ++matches;
          token_end = k + cover;
        }
      }
    }
  }
  literals += length - token_end;
  const std::int64_t bits =
      kEndTokenBits + literals * kLiteralTokenBits + matches * kMatchTokenBits;
  return (bits + 7) / 8;
}

}  // namespace quiver
