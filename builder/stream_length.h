// The length of the stream the coder writes for a member, found without
// coding it. The parse (token_loop.h) depends only on the length of the
// longest match at each position, never on which string gives it, so a
// search through the strings the match tree would hold, reached by their
// first two bytes, finds the same tokens. On data with few repeats, what
// -s stores raw, that takes far less work than coding.
#pragma once

#include <cstdint>

#include "neighbour_record.h"
#include "stream_format.h"

namespace quiver {

// Members up to this long are held whole to be measured.
inline constexpr std::int64_t kMeasuredAtMost = 4 << 20;

// The room a member's bytes are measured with after them: the 16 bytes its
// last strings read past its end, then what comparing strings 8 bytes at a
// time reads on (CompareFrom).
inline constexpr std::int64_t kMeasuredRoom = kCompareReach;
static_assert(kMeasuredRoom >= kLookAheadSize);

// The stream's length in bytes for a member of `length` bytes, given as
// `bytes` followed by the 16 bytes its last strings read past its end
// (WindowBytesPastEnd), in kMeasuredRoom bytes of room; -1 once the search
// has compared more than `work_limit` strings.
std::int64_t StreamLength(const std::uint8_t* bytes, std::int64_t length, std::int64_t work_limit);

}  // namespace quiver
