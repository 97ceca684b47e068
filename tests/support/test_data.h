// Deterministic data of several shapes, for tests, benchmarks and fuzz seeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quiver::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Text(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// A key as the programs print it: lower-case hexadecimal, no leading zeros.
std::string Hex(std::uint32_t value);

Bytes TextData(std::size_t size, std::uint64_t seed);
Bytes RandomData(std::size_t size, std::uint64_t seed);
Bytes RunsData(std::size_t size, std::uint64_t seed);
Bytes BinaryData(std::size_t size, std::uint64_t seed);
// Numbered lines in ascending order: strings that reach the match tree
// sorted, its deepest case.
Bytes SortedData(std::size_t size);

}  // namespace quiver::test
