// The token-level steps every decoder of the stream shares: telling a
// token from its bits, and copying a match within an output buffer that
// holds the 4096 bytes before it.
#pragma once

#include <cstdint>
#include <cstring>

#include "stream_format.h"

namespace quiver {

// CopyMatch writes whole 8-byte chunks: up to this many bytes from a
// token's start, past the match's own end.
inline constexpr int kCopyWidth = 24;

// Copies a match of at most 17 bytes that starts `distance` bytes back, as
// if byte by byte, so an overlapping source repeats itself. Writes up to
// kCopyWidth bytes; those past the match are overwritten by later tokens.
[[gnu::always_inline]] inline void CopyMatch(std::uint8_t* dst, int distance, int length) {
  const std::uint8_t* src = dst - distance;
  if (distance >= kMaxMatchLength) {
    // Source and match do not overlap: one wide copy and the last byte.
    std::memcpy(dst, src, 16);
    dst[16] = src[16];
    return;
  }
  if (distance >= 8) {
    // Only the chunks the match needs: here a later chunk reads what an
    // earlier one has just written, and such a read waits for the write.
    std::memcpy(dst, src, 8);
    if (length <= 8) return;
    std::memcpy(dst + 8, src + 8, 8);
    if (length <= 16) return;
    std::memcpy(dst + 16, src + 16, 8);
    return;
  }
  for (int i = 0; i < 8; ++i) dst[i] = dst[i - distance];
  if (length <= 8) return;
  // From its 8th byte on the match repeats with a period that is a multiple
  // of the distance and at least 8.
  static constexpr int kPeriod[8] = {0, 8, 8, 9, 8, 10, 12, 14};
  const int period = kPeriod[distance];
  std::memcpy(dst + 8, dst + 8 - period, 8);
  std::memcpy(dst + 16, dst + 16 - period, 8);
}

// The one token decoder: tells the token in `next`, the stream's next
// kMaxTokenBits bits, hands it to `literal(byte)`, `match(position,
// length)` or `end()`, and returns its width in the stream.
template <typename Literal, typename Match, typename End>
[[gnu::always_inline]] inline int DecodeToken(std::uint32_t next, Literal literal, Match match,
                                              End end) {
  if (next & kLiteralFlag) {
    literal(static_cast<std::uint8_t>(next >> (kMaxTokenBits - kLiteralTokenBits)));
    return kLiteralTokenBits;
  }
  const int position = static_cast<int>((next >> kLengthBits) & kPositionMask);
  if (position == kEndPosition) {
    end();
    return kEndTokenBits;
  }
  match(position, static_cast<int>(next & ((1u << kLengthBits) - 1)) + kMinMatchLength);
  return kMatchTokenBits;
}

// Writes a match at `out`, member byte `produced`, and returns its end.
[[gnu::always_inline]] inline std::uint8_t* PutMatch(std::uint8_t* out, std::int64_t produced,
                                                     int position, int length) {
  // Output byte k sits at window position (k + 1) mod 4096; a source 4096
  // bytes back is the position about to be overwritten.
  const int distance = static_cast<int>((produced - position) & kPositionMask) + 1;
  CopyMatch(out, distance, length);
  return out + length;
}

}  // namespace quiver
