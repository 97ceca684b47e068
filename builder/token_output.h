// The tokens of a compressed stream, written to a bit stream.
#pragma once

#include <cstdint>

#include "bit_file.h"
#include "lzss_encoder.h"

namespace quiver {

// A literal of `byte` when the best match is shorter than 2 bytes, else the
// match; returns the number of bytes the token covers.
inline int OutputToken(BitFile& bits, int best_length, int best_position, std::uint8_t byte) {
  if (best_length <= 1) {
    bits.OutputBit(1);
    bits.OutputBits(byte, 8);
    return 1;
  }
  bits.OutputBit(0);
  bits.OutputBits(static_cast<std::uint32_t>(best_position), 12);
  bits.OutputBits(static_cast<std::uint32_t>(best_length - kMinMatchLength), 4);
  return best_length;
}

inline void OutputEndToken(BitFile& bits) {
  bits.OutputBit(0);
  bits.OutputBits(0, 12);
}

}  // namespace quiver
