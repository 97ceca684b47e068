// The coder's per-thread scratch: a sorter, a tree replay and the records
// between them, a long member's block buffers; and for -u a decoder and a
// read buffer. Each is made on a
// thread's first use and kept for its next members and blocks. Held by
// plain thread-local pointers, freed by ReleaseThreadScratch: a pool thread
// calls it as it ends, and a thread that never does (the main thread) keeps
// its scratch until the process ends. Thread-local objects with destructors
// are avoided on purpose: with mingw-w64's static runtime their destructors
// can run after the thread's storage is gone.
#pragma once

#include <cstdint>
#include <vector>

#include "neighbour_record.h"
#include "stream_format.h"

namespace quiver {

class SortedNeighbours;

// Chains of a member's strings by their first two bytes (stream_length.h):
// the newest string of each two bytes, and for each string the one before
// it, kept for the last kLinks strings.
struct StringChains {
  static constexpr std::int64_t kMaxBase = 0x7FFFFFFF;
  static constexpr std::int32_t kLinks = 2 * kWindowSize;
  static constexpr std::int32_t kNone = -kWindowSize - 1;  // out of every string's reach
  std::vector<std::int32_t> head = std::vector<std::int32_t>(1 << 16, kNone);
  std::int32_t links[kLinks];
  std::int64_t next_base = 0;
};

class SpanDecoder;
class TreeReplay;

SortedNeighbours& ThreadSortedNeighbours();
TreeReplay& ThreadTreeReplay();
std::vector<NeighbourRecord>& ThreadRecords();
// Decodes spans of kUpdateSpan bytes, for members of any length.
SpanDecoder& ThreadSpanDecoder();
std::vector<std::uint8_t>& ThreadReadBuffer();
std::vector<std::uint8_t>& ThreadStreamBuffer();
inline constexpr std::int64_t kUpdateSpan = 64 << 10;
StringChains& ThreadStringChains();
// A long member's block buffers, kept for the thread's next long member:
// memory first touched costs more than the work done in it.
struct BlockBuffers {
  std::vector<std::uint8_t> bytes;
  std::vector<NeighbourRecord> records;
};
std::vector<BlockBuffers>& ThreadBlockBuffers();
void ReleaseThreadScratch();

}  // namespace quiver
