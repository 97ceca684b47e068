#include "scratch.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace quiver::test {

void ScratchTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "quiver-test-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
}

void ScratchTest::TearDown() {
  std::error_code ignored;
  // Tests may leave read-only directories behind.
  for (auto& entry : fs::recursive_directory_iterator(dir_, ignored))
    if (entry.is_directory(ignored))
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(dir_, ignored);
}

void ScratchTest::Write(const std::string& relative, const Bytes& bytes) const {
  fs::path path = Path(relative);
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void ScratchTest::Write(const std::string& relative, const std::string& text) const {
  Write(relative, Bytes(text.begin(), text.end()));
}

Bytes ScratchTest::Read(const std::string& relative) const {
  std::ifstream in(Path(relative), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool ScratchTest::Exists(const std::string& relative) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(Path(relative), ignored));
}

std::vector<std::string> ScratchTest::Tree() const {
  std::vector<std::string> paths;
  for (auto& entry : fs::recursive_directory_iterator(dir_)) {
    std::string relative = fs::relative(entry.path(), dir_).string();
    if (entry.is_directory()) relative += "/";
    paths.push_back(relative);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

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

}  // namespace quiver::test
