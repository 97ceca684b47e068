// Members coded from their bytes in memory by sorting their strings (see
// sorted_neighbours.h) and replaying the match tree's shape (tree_replay.h):
// short members several to one sort, a longer one in pieces. Every stream
// is the one the match tree would give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bit_file.h"
#include "sorted_neighbours.h"

namespace quiver {

using ShortMember = SortedNeighbours::ShortMember;

// Codes each of `count` members, each at most kShortMemberLimit bytes and
// together at most kBatchBytes with 16 more each, into `*streams[j]`.
void EncodeShortMembers(const ShortMember* members, std::size_t count,
                        std::vector<std::uint8_t>* const* streams);

// Codes one member held whole in memory into `bits`: its bytes and, for
// a short one, the bytes past its end.
void EncodeMemberInMemory(const ShortMember& member, BitFile& bits);

}  // namespace quiver
