#include "sorted_neighbours.h"

#include <algorithm>

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

}  // namespace

void SortedNeighbours::Find(const StringBytes& strings, std::int64_t start, std::int64_t end,
                            NeighbourRecord* records) {
  for (std::int64_t piece = start; piece < end; piece += kPiece) {
    const std::int64_t piece_end = std::min(piece + kPiece, end);
    const std::int64_t from = std::max<std::int64_t>(0, piece - kTreeSpan);
    text_.resize(static_cast<std::size_t>(piece_end - from) + kTextTail);
    for (std::int64_t offset = from; offset < piece_end + kLookAheadSize - 1; ++offset)
      text_[static_cast<std::size_t>(offset - from)] = strings.At(offset);
    FindPiece(from, piece, piece_end, records + (piece - start));
  }
}

// Ranks the strings of the piece by their 17 bytes, equal strings alike:
// first into buckets by their first two bytes, then each bucket sorted.
void SortedNeighbours::SortStrings() {
  const std::size_t count = text_.size() - kTextTail;
  keys_.resize(count);
  sorted_.resize(count);
  bucket_.assign((1 << 16) + 1, 0);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* s = text_.data() + i;
    keys_[i] = {LoadBigEndian(s), LoadBigEndian(s + 8), s[16], static_cast<std::uint32_t>(i)};
    ++bucket_[(keys_[i].head >> 48) + 1];
  }
  for (std::size_t b = 1; b < bucket_.size(); ++b) bucket_[b] += bucket_[b - 1];
  for (const Key& key : keys_) sorted_[bucket_[key.head >> 48]++] = key;
  const auto less = [](const Key& a, const Key& b) {
    if (a.head != b.head) return a.head < b.head;
    if (a.tail != b.tail) return a.tail < b.tail;
    return a.last < b.last;
  };
  // Each bucket now ends where the next began.
  std::uint32_t begin = 0;
  for (std::size_t b = 0; b + 1 < bucket_.size(); ++b) {
    const std::uint32_t bucket_end = bucket_[b];
    if (bucket_end - begin > 1)
      std::sort(sorted_.begin() + begin, sorted_.begin() + bucket_end, less);
    begin = bucket_end;
  }
  rank_.resize(count);
  int rank = -1;
  for (std::size_t i = 0; i < count; ++i) {
    const Key& key = sorted_[i];
    if (i == 0 || less(sorted_[i - 1], key)) ++rank;
    rank_[key.index] = rank;
  }
  newest_.assign(static_cast<std::size_t>(rank + 1), -1);
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
  if (below_length > above_length)
    return MakeNeighbourRecord(below, above, below_length, NeighbourKind::kBelow);
  if (above_length > below_length)
    return MakeNeighbourRecord(below, above, above_length, NeighbourKind::kAbove);
  return MakeNeighbourRecord(below, above, below_length, NeighbourKind::kTie);
}

void SortedNeighbours::FindPiece(std::int64_t from, std::int64_t start, std::int64_t end,
                                 NeighbourRecord* records) {
  SortStrings();
  for (std::int64_t offset = from; offset < end; ++offset) {
    // The string the tree let go when this one's last byte came in.
    const std::int64_t gone = offset - kTreeSpan - 1;
    if (gone >= from) {
      const int rank = rank_[static_cast<std::size_t>(gone - from)];
      if (newest_[static_cast<std::size_t>(rank)] == gone - from) {
        set_.Erase(rank);
        newest_[static_cast<std::size_t>(rank)] = -1;
      }
    }
    // Position 0 never holds a string, and the member's first string meets
    // an empty tree.
    if (PositionOfOffset(offset) == kNoNode) continue;
    const int i = static_cast<int>(offset - from);
    const NeighbourRecord record = Neighbours(i, from);
    newest_[static_cast<std::size_t>(rank_[static_cast<std::size_t>(i)])] = i;
    if (offset >= start && offset > 0) records[offset - start] = record;
  }
}

}  // namespace quiver
