// The records the match tree files (see NeighbourRecord) for a stretch of a
// member's strings, found without the tree: the strings of each piece of the
// stretch, with the window span before it, are sorted once by their 17
// bytes, then swept in member order with the set of ranks that the tree
// would hold. The tree's walks grow with the prefixes strings share (sorted
// lines and numbers); this costs the same on any data.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "neighbour_record.h"
#include "rank_set.h"
#include "stream_format.h"

namespace quiver {

// A member's bytes from offset `first` on, as its strings read them: a
// string running past the member's end reads on in the window, which there
// still holds the bytes 4096 before.
struct StringBytes {
  const std::uint8_t* bytes;
  std::int64_t first;
  std::int64_t length;

  std::uint8_t At(std::int64_t offset) const {
    return bytes[(offset < length ? offset : offset - kWindowSize) - first];
  }
};

// Scratch for one thread's sorts, kept between stretches.
class SortedNeighbours {
 public:
  // The radix sort's digits, over the first bytes of each string.
  static constexpr int kDigitBits = 12;
  static constexpr std::size_t kDigits = 4;

  // Records for the strings at offsets [start, end) into records[0, end -
  // start), as a tree filled from the member's start would give them. The
  // bytes must reach from kWindowSize - kLookAheadSize + 1 before `start`
  // (or from 0) to kLookAheadSize - 1 past `end` (or the member's end).
  void Find(const StringBytes& strings, std::int64_t start, std::int64_t end,
            NeighbourRecord* records);

  // A member short enough to be sorted with others: its bytes, and the 16
  // bytes its last strings read past its end (WindowBytesPastEnd).
  struct ShortMember {
    const std::uint8_t* bytes;
    std::int64_t length;
    const std::uint8_t* past_end;
  };
  // Members up to this long are sorted with others, at most kBatchBytes of
  // them (16 more each) at once.
  static constexpr std::int64_t kShortMemberLimit = 32 << 10;
  static constexpr std::int64_t kBatchBytes = 36 << 10;
  // Records for every string of `count` members, each as a tree filled
  // from its own start would give them, one member's after another's in
  // `records`: one sort for all of them, which spares a short member the
  // fixed costs of a sort of its own.
  void FindMembers(const ShortMember* members, std::size_t count, NeighbourRecord* records);

 private:
  void FindPiece(std::int64_t from, std::int64_t start, std::int64_t end, NeighbourRecord* records);
  void SortKeys();
  int RankRun(std::size_t run, std::size_t run_end, int rank);
  void SortStrings();
  NeighbourRecord Neighbours(int i, std::int64_t from);
  // Files the string of index i, whose member started at text index `base`.
  NeighbourRecord File(int i, std::int64_t base);

  // The strings' bytes and the 16 that the last ones read on, then room
  // for 8-byte loads; every position of it is sorted, though those past a
  // member's end hold no string, so that each has a head rank.
  std::vector<std::uint8_t> text_;
  std::vector<std::uint64_t> keys_, spare_;
  // The rest (the head ranks of bytes 6-11 and 11-16) above the index.
  std::vector<std::uint64_t> tails_;
  std::array<std::array<std::uint32_t, 1 << kDigitBits>, kDigits> histogram_;
  std::vector<std::uint16_t> head_rank_;  // of each position's first kKeyBits bits
  std::vector<std::uint16_t> rank_;       // of each string's 17 bytes, by index
  std::vector<std::uint16_t> newest_;     // the latest index of each rank in the set
  RankSet set_;
};

}  // namespace quiver
