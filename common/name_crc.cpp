#include "name_crc.h"

#include <array>
#include <cstring>

namespace quiver {
namespace {

// kCrcTables[0] is the byte-at-a-time table; kCrcTables[k][i] is the CRC of
// byte i followed by k zero bytes, so four bytes are folded in at once.
constexpr std::array<std::array<std::uint32_t, 256>, 4> MakeCrcTables() {
  std::array<std::array<std::uint32_t, 256>, 4> tables{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
    tables[0][i] = value;
  }
  for (std::size_t k = 1; k < 4; ++k)
    for (std::uint32_t i = 0; i < 256; ++i)
      tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
  return tables;
}

constexpr auto kCrcTables = MakeCrcTables();

// Four bytes with "A" to "Z" lower-cased: within each byte, its low seven
// bits plus 0x3F reach bit 7 from 0x41 on and plus 0x25 from 0x5B on, with
// no carry into the next byte; a byte of 0x80 or more is no letter.
std::uint32_t FoldFour(std::uint32_t x) {
  const std::uint32_t low = x & 0x7F7F7F7Fu;
  const std::uint32_t letter = (low + 0x3F3F3F3Fu) & ~(low + 0x25252525u) & ~x & 0x80808080u;
  return x | letter >> 2;
}

}  // namespace

std::uint32_t NameCrc(const char* name) {
  const auto* p = reinterpret_cast<const unsigned char*>(name);
  std::size_t left = std::strlen(name);
  std::uint32_t value = 0;
  for (; left >= 4; p += 4, left -= 4) {
    const std::uint32_t four =
        static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    value ^= FoldFour(four);
    value = kCrcTables[3][value & 0xFF] ^ kCrcTables[2][(value >> 8) & 0xFF] ^
            kCrcTables[1][(value >> 16) & 0xFF] ^ kCrcTables[0][value >> 24];
  }
  for (; left > 0; ++p, --left) {
    const auto byte = static_cast<unsigned char>(FoldFour(*p));
    value = (value >> 8) ^ kCrcTables[0][(value ^ byte) & 0xFF];
  }
  return value;
}

}  // namespace quiver
