// The match-tree compressor written the plain way, one masked byte at a
// time, for holding the fast encoder to the same output.
#pragma once

#include <cstdint>
#include <vector>

namespace quiver::test {

class ReferenceEncoder {
 public:
  // Compresses one member; the window carries over between calls.
  std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& member);

 private:
  std::uint8_t window_[4096] = {};
};

}  // namespace quiver::test
