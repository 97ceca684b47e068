#include "name_crc.h"

#include <array>

namespace quiver {
namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
    table[i] = value;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

std::uint32_t NameCrc(const char* name) {
  std::uint32_t value = 0;
  for (const char* p = name; *p != '\0'; ++p) {
    auto byte = static_cast<unsigned char>(*p);
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<unsigned char>(byte - 'A' + 'a');
    value = (value >> 8) ^ kCrcTable[(value ^ byte) & 0xFF];
  }
  return value;
}

}  // namespace quiver
