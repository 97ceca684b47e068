// The encoder's window and the MatchTree: a binary search tree of the
// 17-byte strings that start at the window positions of the current member.
// The tree's shape decides which of several equal matches is taken, so every
// operation keeps exactly the shape that the plain insert and remove give.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "lzss_encoder.h"
#include "stream_format.h"

namespace quiver {

// Index 0 is no node (position 0 never holds a string); the anchor, one past
// the last position, holds the root as its higher link.
inline constexpr int kNoNode = 0;
inline constexpr int kRootAnchor = kWindowSize;
// Behind the window: its first 17 bytes again, so that a string crossing
// position 4095 reads straight on, and room for an 8-byte load at any offset
// up to 16 of any position.
inline constexpr int kWindowTail = 32;
static_assert(kWindowTail >= kLookAheadSize - 1 + 8);

// Eight bytes as a number that orders as the bytes do.
inline std::uint64_t LoadBigEndian(const std::uint8_t* p) {
  std::uint64_t x;
  std::memcpy(&x, p, 8);
  return __builtin_bswap64(x);
}

// Common prefix of two 17-byte strings, 8 bytes at a time from `from`, a
// length they are known to share; sets `greater` when the first is greater.
// It reads kCompareReach bytes from each.
inline constexpr int kCompareReach = 24;
inline int CompareFrom(const std::uint8_t* a, const std::uint8_t* b, int from, bool& greater) {
  for (int i = from; i < kLookAheadSize; i += 8) {
    const std::uint64_t x = LoadBigEndian(a + i);
    const std::uint64_t y = LoadBigEndian(b + i);
    if (x != y) {
      const int length = i + std::countl_zero(x ^ y) / 8;
      if (length >= kLookAheadSize) break;
      greater = x > y;
      return length;
    }
  }
  return kLookAheadSize;
}

// The common prefix of two 17-byte strings, 0 to 17.
inline int CommonPrefix(const std::uint8_t* a, const std::uint8_t* b) {
  bool greater;
  return CompareFrom(a, b, 0, greater);
}

// What filing a string found, for a coder that settles the tree's shape
// elsewhere: n's neighbours in string order (0 when none) and which of them
// matches n further. Of two that match equally, the deeper one in the tree
// wins, and that depends on the order in which the strings came in; an equal
// string is the one that n replaced. Packed into 32 bits: below in bits 0-11,
// above in 12-23, the length in 24-28 and the kind in 29-30.
enum class NeighbourKind : std::uint32_t { kBelow, kAbove, kTie, kEqual };
using NeighbourRecord = std::uint32_t;

inline NeighbourRecord MakeNeighbourRecord(int below, int above, int length, NeighbourKind kind) {
  return static_cast<std::uint32_t>(below) | static_cast<std::uint32_t>(above) << kWindowBits |
         static_cast<std::uint32_t>(length) << 24 | static_cast<std::uint32_t>(kind) << 29;
}
inline int RecordBelow(NeighbourRecord r) {
  return static_cast<int>(r & kPositionMask);
}
inline int RecordAbove(NeighbourRecord r) {
  return static_cast<int>(r >> kWindowBits & kPositionMask);
}
inline int RecordLength(NeighbourRecord r) {
  return static_cast<int>(r >> 24 & 0x1F);
}
inline NeighbourKind RecordKind(NeighbourRecord r) {
  return static_cast<NeighbourKind>(r >> 29);
}

struct EncoderState {
  // The window carries over from member to member; the tree does not. A
  // state starts zero, and its entry tables are empty again after each
  // member, so a state serves any number of members, one after another.
  void SetWindow(const EncoderWindow& start);

  void StoreByte(int position, std::uint8_t byte) {
    window[position] = byte;
    if (position < kLookAheadSize) window[kWindowSize + position] = byte;
  }

  // An empty tree but for position r.
  void ResetTree(int r);
  // Takes the tree's strings out of the entry tables; called once a member's
  // last string is in, while those strings still stand in the window.
  void ClearEntries();
  void RemovePosition(int p);
  // Files the string at n and returns the longest match the walk met (0 to
  // 17), setting best_position to its node; position 0 is never filed.
  int InsertPosition(int n, int& best_position);

  std::uint8_t window[kWindowSize + kWindowTail];
  // The MatchTree, one array per field, links packed to 16 bits each so that
  // tree and window stay in the first-level cache. Index 0 is no node and
  // kRootAnchor the anchor whose higher link holds the root.
  struct {
    std::uint32_t links[kWindowSize + 1];  // lower link | higher link << 16
    std::uint16_t parent[kWindowSize + 1];
  } MatchTree;

  // Where a walk may start: for each first byte, and for each first two
  // bytes, the shallowest node whose string begins with them (0 when none).
  // Every walk for a string with that beginning passes through that node,
  // and the nodes above it, which begin otherwise, match it less.
  std::uint16_t entry1[1 << 8];
  std::uint16_t entry2[1 << 16];

 private:
  int Lower(int node) const { return static_cast<int>(MatchTree.links[node] & 0xFFFF); }
  int Higher(int node) const { return static_cast<int>(MatchTree.links[node] >> 16); }
  void SetLower(int node, int lower);
  void SetHigher(int node, int higher);
  void SetParent(int child, int parent);
  int Prefix1(int node) const { return window[node]; }
  int Prefix2(int node) const { return window[node] << 8 | window[node + 1]; }

  struct WalkEnd {
    int t;  // the node the walk ended at, or the equal string
    std::uint32_t below, above;
    bool equal;
  };
  WalkEnd Walk(int n);
  void SpliceNode(int old_node, int new_node);
  void SubstituteNode(int old_node, int new_node);
  int Predecessor(int node);
  template <int kBytes>
  int FindEntry(int subtree, int prefix) const;
  int CommonLength(int a, int b) const;
};

}  // namespace quiver
