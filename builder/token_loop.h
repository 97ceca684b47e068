// The parse that the one-pass coder and the block coder share: at each
// position the longest match filed strings offer, a literal where it is
// shorter than kMinMatchLength, then the end token. The matcher owns the
// window, the input and the strings:
//   std::uint8_t Literal(int current)   the byte at position `current`
//   int Advance(int current)            takes the string 17 places on out of
//                                       the strings, brings the next input
//                                       byte in: 1, 0 when the input has
//                                       ended, -1 to stop the coding
//   int Insert(int n, int& best)        files the string at n (0 is never
//                                       filed: returns 0), returns its best
//                                       match length and sets its position
#pragma once

#include <cstdint>

#include "bit_file.h"
#include "stream_format.h"

namespace quiver {

// A literal of `byte` when the best match is shorter than 2 bytes, else the
// match; returns the number of bytes the token covers.
// Each token goes out in one write: its flag bit, then its fields.
inline int OutputToken(BitFile& bits, int best_length, int best_position, std::uint8_t byte) {
  if (best_length < kMinMatchLength) {
    bits.OutputBits(1u << 8 | byte, 1 + 8);
    return 1;
  }
  bits.OutputBits(static_cast<std::uint32_t>(best_position) << kLengthBits |
                      static_cast<std::uint32_t>(best_length - kMinMatchLength),
                  1 + kWindowBits + kLengthBits);
  return best_length;
}

// The member's tokens from position 1 on, with `look_ahead` bytes (its
// first ones, at most 17) already in the window. False when the matcher
// stopped the coding.
template <typename Matcher>
bool EncodeTokens(Matcher& matcher, BitFile& bits, int look_ahead) {
  int current = 1;
  int best_length = 0;
  int best_position = 0;
  while (look_ahead > 0) {
    if (best_length > look_ahead) best_length = look_ahead;
    const int steps = OutputToken(bits, best_length, best_position, matcher.Literal(current));
    for (int i = 0; i < steps; ++i) {
      const int came = matcher.Advance(current);
      if (came < 0) return false;
      look_ahead -= 1 - came;
      current = (current + 1) & kPositionMask;
      if (look_ahead != 0) best_length = matcher.Insert(current, best_position);
    }
  }
  bits.OutputBits(kEndPosition, 1 + kWindowBits);
  return true;
}

}  // namespace quiver
