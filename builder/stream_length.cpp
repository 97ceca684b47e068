#include "stream_length.h"

#include <algorithm>
#include <bit>

#include "neighbour_record.h"
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

// The parse of one member, a block at a time.
class BlockParse {
 public:
  BlockParse(StringChains& chains, const std::uint8_t* bytes, std::int64_t length)
      : chains_(chains), bytes_(bytes), length_(length) {
    // Strings are filed by their offset counted on from the last member's
    // on this thread, so that no chain needs clearing but when those counts
    // would run out; a member's offsets start a window past the last one's,
    // out of reach of its strings.
    if (chains.next_base > StringChains::kMaxBase - length - kWindowSize) {
      std::fill(std::begin(chains.head), std::end(chains.head), StringChains::kNone);
      chains.next_base = 0;
    }
    base_ = static_cast<std::int32_t>(chains.next_base);
    chains.next_base += length + kWindowSize;
  }

  // Files the strings of the block from `start` on, marking in `reached`
  // those with an earlier string of their first two bytes within reach.
  void File(std::int64_t start, std::uint64_t* reached) {
    const std::int64_t end = std::min<std::int64_t>(length_, start + kWindowSize);
    const std::int64_t filed_end = std::min<std::int64_t>(end, start + kWindowSize - 1);
    for (std::int64_t from = start; from < end; from += 64) {
      const int count = static_cast<int>(std::clamp<std::int64_t>(filed_end - from, 0, 64));
      std::uint64_t marks = 0;
      for (int n = 0; n < count; ++n) {
        const std::int64_t k = from + n;
        const int key = bytes_[k] << 8 | bytes_[k + 1];
        const auto position = static_cast<std::uint32_t>(base_ + k);
        const std::int32_t newest = chains_.head[key];
        chains_.links[position & kLinkMask] = newest;
        chains_.head[key] = static_cast<std::int32_t>(position);
        const bool in_reach = position - static_cast<std::uint32_t>(newest) - 1 < kHeldStrings;
        marks |= static_cast<std::uint64_t>(in_reach) << n;
      }
      *reached++ = marks;
    }
  }

  // Parses the block from `start` on, its positions marked in `reached`;
  // false once the work is over `work_limit`.
  bool Parse(std::int64_t start, const std::uint64_t* reached, std::int64_t work_limit) {
    const std::int64_t end = std::min<std::int64_t>(length_, start + kWindowSize);
    for (std::int64_t from = start; from < end; from += 64) {
      for (std::uint64_t marks = *reached++; marks != 0; marks &= marks - 1) {
        const std::int64_t k = from + std::countr_zero(marks);
        if (k < token_end_) continue;
        literals_ += k - token_end_;
        const std::int64_t oldest = base_ + std::max<std::int64_t>(0, k - kHeldStrings);
        int best = 0;
        for (std::int64_t j = chains_.links[static_cast<std::uint32_t>(base_ + k) & kLinkMask];
             j >= oldest && best < kMaxMatchLength; j = chains_.links[j & kLinkMask]) {
          if (++work_ > work_limit) return false;
          // The two share their first two bytes, those of the chain.
          bool greater;
          best = std::max(best, CompareFrom(bytes_ + (j - base_), bytes_ + k, 2, greater));
        }
        const auto cover = static_cast<int>(std::min<std::int64_t>(best, length_ - k));
        if (cover < kMinMatchLength) {
          ++literals_;
          token_end_ = k + 1;
        } else {
          ++matches_;
          token_end_ = k + cover;
        }
      }
    }
    return true;
  }

  // The stream's length in bytes, once every block is parsed.
  std::int64_t StreamBytes() const {
    const std::int64_t literals = literals_ + length_ - token_end_;
    const std::int64_t bits =
        kEndTokenBits + literals * kLiteralTokenBits + matches_ * kMatchTokenBits;
    return (bits + 7) / 8;
  }

 private:
  static constexpr std::uint32_t kLinkMask = StringChains::kLinks - 1;

  StringChains& chains_;
  const std::uint8_t* bytes_;
  std::int64_t length_;
  std::int32_t base_;
  std::int64_t literals_ = 0;  // before token_end_
  std::int64_t matches_ = 0;
  std::int64_t work_ = 0;
  std::int64_t token_end_ = 0;
};

}  // namespace

std::int64_t StreamLength(const std::uint8_t* bytes, std::int64_t length, std::int64_t work_limit) {
  BlockParse parse(ThreadStringChains(), bytes, length);
  for (std::int64_t start = 0; start < length; start += kWindowSize) {
    std::uint64_t reached[kWindowSize / 64];
    parse.File(start, reached);
    if (!parse.Parse(start, reached, work_limit)) return -1;
  }
  return parse.StreamBytes();
}

}  // namespace quiver
