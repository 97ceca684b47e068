// What the coder needs to know when it files a string: its neighbours in
// string order among the strings a match tree would hold, and how far each
// matches it. The tree's shape, which decides between equal matches, is
// kept elsewhere (TreeReplay).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "stream_format.h"

namespace quiver {

// Position 0 never holds a string: 0 stands for no neighbour.
inline constexpr int kNoNode = 0;

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

// What filing a string found: its neighbours in string order (0 when none)
// and which of them matches it further. Of two that match equally, the
// deeper one in the tree wins, and that depends on the order in which the
// strings came in; an equal string is the one that the new string replaces.
// Packed into 32 bits: below in bits 0-11, above in 12-23, the length in
// 24-28 and the kind in 29-30.
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

}  // namespace quiver
