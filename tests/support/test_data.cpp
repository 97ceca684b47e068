#include "test_data.h"

#include <cstdio>
#include <iterator>

namespace quiver::test {

namespace {

std::uint64_t Next(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

Bytes TextData(std::size_t size, std::uint64_t seed) {
  static const char* const kWords[] = {"the ",   "quiver ", "asset ",   "of ",    "arrows ",
                                       "packs ", "level ",  "sprite ",  "data\n", "and ",
                                       "a ",     "tree ",   "texture ", "sound ", "map\n"};
  Bytes out;
  std::uint64_t state = seed;
  while (out.size() < size) {
    const char* word = kWords[Next(state) % std::size(kWords)];
    for (const char* p = word; *p != '\0' && out.size() < size; ++p)
      out.push_back(static_cast<std::uint8_t>(*p));
  }
  return out;
}

Bytes RandomData(std::size_t size, std::uint64_t seed) {
  Bytes out(size);
  std::uint64_t state = seed;
  for (auto& b : out) b = static_cast<std::uint8_t>(Next(state));
  return out;
}

Bytes RunsData(std::size_t size, std::uint64_t seed) {
  Bytes out;
  std::uint64_t state = seed;
  while (out.size() < size) {
    auto value = static_cast<std::uint8_t>(Next(state) % 4);
    std::size_t run = 1 + Next(state) % 300;
    for (std::size_t i = 0; i < run && out.size() < size; ++i) out.push_back(value);
  }
  return out;
}

Bytes BinaryData(std::size_t size, std::uint64_t seed) {
  // Records with small integers and repeated headers, like a game data file.
  Bytes out;
  std::uint64_t state = seed;
  while (out.size() < size) {
    const std::uint8_t header[] = {'R', 'E', 'C', 0, 1, 0, 0, 0};
    for (std::uint8_t b : header) out.push_back(b);
    for (int i = 0; i < 24; ++i) out.push_back(static_cast<std::uint8_t>(Next(state) % 16));
  }
  out.resize(size);
  return out;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

Bytes SortedData(std::size_t size) {
  Bytes out;
  char line[32];
  for (unsigned i = 0; out.size() < size; ++i) {
    int n = std::snprintf(line, sizeof line, "%010u\n", i);
    out.insert(out.end(), line, line + n);
  }
  out.resize(size);
  return out;
}

}  // namespace quiver::test
