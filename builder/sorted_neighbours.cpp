#include "sorted_neighbours.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quiver {
namespace {

// Strings the tree holds when a string is filed: those of the 4079 bytes
// before it.
constexpr std::int64_t kTreeSpan = kWindowSize - kLookAheadSize;
// The stretch is done in pieces of this many strings, so that the sort and
// the sweep stay within the second-level cache.
constexpr std::int64_t kPiece = 32 << 10;
static_assert(kPiece + kTreeSpan < RankSet::kRankLimit);

// Behind the last string: room for CommonPrefix to read on.
constexpr std::size_t kTextTail = kCompareReach - 1;

// A sort key: the string's first kKeyBits bits, most significant first,
// above its index in the piece in the low kIndexBits bits.
constexpr int kIndexBits = 16;
constexpr std::uint64_t kIndexMask = (std::uint64_t{1} << kIndexBits) - 1;
static_assert(kPiece + kTreeSpan <= kIndexMask);
static_assert(SortedNeighbours::kShortMemberLimit + kLookAheadSize - 1 <=
                  SortedNeighbours::kBatchBytes &&
              SortedNeighbours::kBatchBytes < kIndexMask);
// newest_ of a rank that never was in the set: no string's index.
constexpr std::uint16_t kNoIndex = kIndexMask;
constexpr int kKeyBits = SortedNeighbours::kDigits * SortedNeighbours::kDigitBits;
static_assert(kKeyBits + kIndexBits <= 64 && kKeyBits / 8 + 8 >= kLookAheadSize - 8);
constexpr std::uint64_t kHeadMask = ~std::uint64_t{0} << (64 - kKeyBits);

// Runs up to this long are sorted by insertion, with no call.
constexpr std::size_t kInsertionSortRun = 16;

// Digit d of a key, the least significant first.
std::size_t DigitOf(std::uint64_t key, std::size_t d) {
  return key >> (64 - kKeyBits + d * SortedNeighbours::kDigitBits) &
         ((1u << SortedNeighbours::kDigitBits) - 1);
}

}  // namespace

void SortedNeighbours::Find(const StringBytes& strings, std::int64_t start, std::int64_t end,
                            NeighbourRecord* records) {
  for (std::int64_t piece = start; piece < end; piece += kPiece) {
    const std::int64_t piece_end = std::min(piece + kPiece, end);
    const std::int64_t from = std::max<std::int64_t>(0, piece - kTreeSpan);
    text_.resize(static_cast<std::size_t>(piece_end - from) + kLookAheadSize - 1 + kTextTail);
    // The member's own bytes in one copy; those past its end one by one.
    const std::int64_t stop = piece_end + kLookAheadSize - 1;
    const std::int64_t within = std::min(stop, strings.length);
    std::memcpy(text_.data(), strings.bytes + (from - strings.first),
                static_cast<std::size_t>(within - from));
    for (std::int64_t offset = within; offset < stop; ++offset)
      text_[static_cast<std::size_t>(offset - from)] = strings.At(offset);
    FindPiece(from, piece, piece_end, records + (piece - start));
  }
}

// Orders the keys of the text's positions by their first kKeyBits bits, a
// radix sort with no comparison.
void SortedNeighbours::SortKeys() {
  const std::size_t count = text_.size() - kTextTail;
  keys_.resize(count);
  spare_.resize(count);
  for (auto& digit : histogram_) digit.fill(0);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t key = (LoadBigEndian(text_.data() + i) & kHeadMask) | i;
    keys_[i] = key;
    for (std::size_t d = 0; d < kDigits; ++d) ++histogram_[d][DigitOf(key, d)];
  }
  for (std::size_t d = 0; d < kDigits; ++d) {
    auto& histogram = histogram_[d];
    // A digit that all strings share leaves the order as it is.
    if (histogram[DigitOf(keys_[0], d)] == count) continue;
    std::uint32_t sum = 0;
    for (std::uint32_t& slot : histogram) sum += std::exchange(slot, sum);
    for (const std::uint64_t key : keys_) spare_[histogram[DigitOf(key, d)]++] = key;
    keys_.swap(spare_);
  }
}

// Sorts keys_[run, run_end), which share their first kKeyBits bits, on the
// rest and ranks them from rank + 1 on; returns the last rank given. The
// rest of a string is its bytes 6-11 and 11-16, and the text's positions
// are ranked by their first 6 bytes: two ranks order it.
int SortedNeighbours::RankRun(std::size_t run, std::size_t run_end, int rank) {
  // Each tail is its rest above its index: ordered as the rests are, and
  // equal rests rank alike whatever order they come in.
  tails_.clear();
  for (std::size_t k = run; k < run_end; ++k) {
    const auto i = static_cast<std::size_t>(keys_[k] & kIndexMask);
    const std::uint64_t rest = static_cast<std::uint64_t>(head_rank_[i + kKeyBits / 8]) << 16 |
                               head_rank_[i + kLookAheadSize - kKeyBits / 8];
    tails_.push_back(rest << 32 | i);
  }
  if (tails_.size() <= kInsertionSortRun) {
    for (std::size_t k = 1; k < tails_.size(); ++k) {
      const std::uint64_t tail = tails_[k];
      std::size_t j = k;
      for (; j > 0 && tail < tails_[j - 1]; --j) tails_[j] = tails_[j - 1];
      tails_[j] = tail;
    }
  } else if (!std::is_sorted(tails_.begin(), tails_.end())) {
    // A long run is mostly one string repeated (zeros, padding): its tails
    // then come in order already.
    std::sort(tails_.begin(), tails_.end());
  }
  for (std::size_t k = 0; k < tails_.size(); ++k) {
    if (k == 0 || (tails_[k] ^ tails_[k - 1]) >> 32 != 0) ++rank;
    rank_[static_cast<std::uint32_t>(tails_[k])] = static_cast<std::uint16_t>(rank);
  }
  return rank;
}

// Ranks the strings of the text by their 17 bytes, equal strings alike:
// the radix sort orders them by their first bytes, and only the runs that
// share those are sorted on the rest.
void SortedNeighbours::SortStrings() {
  SortKeys();
  const std::size_t count = keys_.size();
  rank_.resize(count);
  // The first bytes' ranks first, for the runs' sorts to read.
  head_rank_.resize(text_.size());
  std::fill(head_rank_.begin() + static_cast<std::ptrdiff_t>(count), head_rank_.end(), 0);
  int head = -1;
  for (std::size_t k = 0; k < count; ++k) {
    if (k == 0 || ((keys_[k] ^ keys_[k - 1]) & kHeadMask) != 0) ++head;
    head_rank_[keys_[k] & kIndexMask] = static_cast<std::uint16_t>(head);
  }
  int rank = -1;
  for (std::size_t run = 0; run < count;) {
    std::size_t run_end = run + 1;
    while (run_end < count && ((keys_[run] ^ keys_[run_end]) & kHeadMask) == 0) ++run_end;
    if (run_end - run == 1)
      rank_[keys_[run] & kIndexMask] = static_cast<std::uint16_t>(++rank);
    else
      rank = RankRun(run, run_end, rank);
    run = run_end;
  }
  newest_.assign(static_cast<std::size_t>(rank + 1), kNoIndex);
  set_.Reset(rank + 1);
}

// The tree at the string of index i: the strings of the span before it,
// the newest of equal ones.
NeighbourRecord SortedNeighbours::Neighbours(int i, std::int64_t from) {
  const auto position = [from](int index) { return PositionOfOffset(from + index); };
  const int rank = rank_[static_cast<std::size_t>(i)];
  if (set_.Contains(rank))
    return MakeNeighbourRecord(position(newest_[static_cast<std::size_t>(rank)]), kNoNode,
                               kLookAheadSize, NeighbourKind::kEqual);
  const std::uint8_t* s = text_.data() + i;
  const int below_rank = set_.Below(rank);
  const int above_rank = set_.Above(rank);
  int below = kNoNode, above = kNoNode, below_length = -1, above_length = -1;
  if (below_rank >= 0) {
    const int index = newest_[static_cast<std::size_t>(below_rank)];
    below = position(index);
    below_length = CommonPrefix(s, text_.data() + index);
  }
  if (above_rank >= 0) {
    const int index = newest_[static_cast<std::size_t>(above_rank)];
    above = position(index);
    above_length = CommonPrefix(s, text_.data() + index);
  }
  set_.Insert(rank);
  // Which one matches further is as good as random: no branch picks it.
  static_assert(
      static_cast<int>(NeighbourKind::kTie) - 2 == static_cast<int>(NeighbourKind::kBelow) &&
      static_cast<int>(NeighbourKind::kTie) - 1 == static_cast<int>(NeighbourKind::kAbove));
  const int kind = static_cast<int>(NeighbourKind::kTie) - 2 * (below_length > above_length) -
                   (above_length > below_length);
  return MakeNeighbourRecord(below, above, std::max(below_length, above_length),
                             static_cast<NeighbourKind>(kind));
}

void SortedNeighbours::FindPiece(std::int64_t from, std::int64_t start, std::int64_t end,
                                 NeighbourRecord* records) {
  SortStrings();
  // The strings before the piece only fill the set.
  for (std::int64_t offset = from; offset < start; ++offset) {
    if (PositionOfOffset(offset) == kNoNode) continue;
    const auto i = static_cast<std::size_t>(offset - from);
    set_.Insert(rank_[i]);
    newest_[rank_[i]] = static_cast<std::uint16_t>(i);
  }
  for (std::int64_t offset = start; offset < end; ++offset) {
    // The string the tree let go when this one's last byte came in.
    const std::int64_t gone = offset - kTreeSpan - 1;
    if (gone >= from) {
      const int rank = rank_[static_cast<std::size_t>(gone - from)];
      // A rank whose newest string left before has an index that never
      // comes round again.
      if (newest_[static_cast<std::size_t>(rank)] == gone - from) set_.Erase(rank);
    }
    // Position 0 never holds a string, and the member's first string meets
    // an empty tree.
    if (PositionOfOffset(offset) == kNoNode) continue;
    const int i = static_cast<int>(offset - from);
    const NeighbourRecord record = Neighbours(i, from);
    newest_[rank_[static_cast<std::size_t>(i)]] = static_cast<std::uint16_t>(i);
    if (offset > 0) records[offset - start] = record;
  }
}

}  // namespace quiver

namespace quiver {

NeighbourRecord SortedNeighbours::File(int i, std::int64_t base) {
  const NeighbourRecord record = Neighbours(i, -base);
  newest_[rank_[static_cast<std::size_t>(i)]] = static_cast<std::uint16_t>(i);
  return record;
}

void SortedNeighbours::FindMembers(const ShortMember* members, std::size_t count,
                                   NeighbourRecord* records) {
  // Each member's bytes, then the bytes past its end, so that each string
  // reads its own 17; one sort ranks all strings of all members.
  std::size_t size = 0;
  for (std::size_t j = 0; j < count; ++j)
    size += static_cast<std::size_t>(members[j].length) + kLookAheadSize - 1;
  text_.resize(size + kTextTail);
  std::size_t at = 0;
  for (std::size_t j = 0; j < count; ++j) {
    const auto length = static_cast<std::size_t>(members[j].length);
    std::memcpy(text_.data() + at, members[j].bytes, length);
    std::memcpy(text_.data() + at + length, members[j].past_end, kLookAheadSize - 1);
    at += length + kLookAheadSize - 1;
  }
  SortStrings();
  // Each member's sweep starts from an empty tree: a short member takes its
  // own strings out again, which costs less than clearing the set.
  const int ranks = static_cast<int>(newest_.size());
  std::int64_t base = 0;
  for (std::size_t j = 0; j < count; ++j) {
    const std::int64_t length = members[j].length;
    if (j > 0 && members[j - 1].length >= ranks / 16) set_.Reset(ranks);
    for (std::int64_t offset = 0; offset < length; ++offset) {
      const std::int64_t gone = offset - kTreeSpan - 1;
      if (gone >= 0) {
        const int rank = rank_[static_cast<std::size_t>(base + gone)];
        if (newest_[static_cast<std::size_t>(rank)] == base + gone) set_.Erase(rank);
      }
      if (PositionOfOffset(offset) == kNoNode) continue;
      const NeighbourRecord record = File(static_cast<int>(base + offset), base);
      if (offset > 0) records[offset] = record;
    }
    if (length < ranks / 16)
      for (std::int64_t offset = 0; offset < length; ++offset)
        set_.Erase(rank_[static_cast<std::size_t>(base + offset)]);
    records += length;
    base += length + kLookAheadSize - 1;
  }
}

}  // namespace quiver
