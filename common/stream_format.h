// The compressed stream of a member, as the coder writes it and the decoder
// reads it. Bits go most significant first. Three tokens:
//   literal: 1, then the byte (8 bits)
//   match:   0, then the window position (12 bits), then length - 2 (4 bits)
//   end:     0, then 12 zero bits (a match at position 0, which never holds
//            a string)
// The ring window holds 4096 bytes; byte k of a member goes to position
// (k + 1) mod 4096, so its first byte is at position 1. Before a member's
// first byte the window holds what the members before it left (zeros at the
// start of a run).
#pragma once

#include <cstdint>

namespace quiver {

inline constexpr int kWindowBits = 12;
inline constexpr int kWindowSize = 1 << kWindowBits;
inline constexpr int kPositionMask = kWindowSize - 1;
inline constexpr int kLengthBits = 4;
inline constexpr int kMinMatchLength = 2;
// Also the longest match: 2 + 15.
inline constexpr int kLookAheadSize = kMinMatchLength + (1 << kLengthBits) - 1;
inline constexpr int kMaxMatchLength = kLookAheadSize;
inline constexpr int kEndPosition = 0;

inline constexpr int kLiteralTokenBits = 1 + 8;
inline constexpr int kMatchTokenBits = 1 + kWindowBits + kLengthBits;
inline constexpr int kEndTokenBits = 1 + kWindowBits;
// Enough bits to tell any token and read it whole.
inline constexpr int kMaxTokenBits = kMatchTokenBits;
// The flag bit of a token read as kMaxTokenBits bits.
inline constexpr std::uint32_t kLiteralFlag = 1u << (kMaxTokenBits - 1);

// A match token of 17 bits yields at most 17 bytes, so no stream yields
// more than this many bytes for each byte of its own.
inline constexpr int kMaxBytesPerStreamByte = 8;
static_assert(kMaxMatchLength * 8 <= kMatchTokenBits * kMaxBytesPerStreamByte);

// The window position of a member's byte at `offset`.
constexpr int PositionOfOffset(std::int64_t offset) {
  return static_cast<int>((offset + 1) & kPositionMask);
}

}  // namespace quiver
