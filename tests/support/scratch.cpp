#include "scratch.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace quiver::test {

void ScratchTest::SetUp() {
  std::random_device seed;
  std::minstd_rand next(seed());
  for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
    const fs::path path = fs::temp_directory_path() / ("quiver-test-" + std::to_string(next()));
    std::error_code error;
    // Made here, not found: no other test's directory.
    if (fs::create_directory(path, error)) dir_ = path.string();
  }
  ASSERT_FALSE(dir_.empty());
}

void ScratchTest::TearDown() {
  std::error_code ignored;
  // Tests may leave read-only directories behind, and Windows removes no
  // read-only file.
  for (auto& entry : fs::recursive_directory_iterator(dir_, ignored))
    if (!entry.is_symlink(ignored))
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

bool ScratchTest::Link(const std::string& target, const std::string& relative) const {
  std::error_code error;
  if (fs::is_directory(fs::path(Path(relative)).parent_path() / target))
    fs::create_directory_symlink(target, Path(relative), error);
  else
    fs::create_symlink(target, Path(relative), error);
  return !error;
}

void ScratchTest::WriteMembers(const Members& members, const std::string& directory) const {
  const std::string below = directory.empty() ? "" : directory + "/";
  std::string list;
  for (const auto& [name, data] : members) {
    std::string path = name;
    std::replace(path.begin(), path.end(), '\\', '/');
    Write(below + path, data);
    list += name + "\n";
  }
  Write(below + "list.rsp", list);
}

void ScratchTest::BuildArchive(const Members& members, const std::string& option,
                               const std::string& directory) const {
  WriteMembers(members, directory);
  std::vector<std::string> args = {"out", "@list"};
  if (!option.empty()) args.insert(args.begin(), option);
  RunResult run = RunProgram(QuiverPath(), args, directory.empty() ? dir_ : Path(directory));
  ASSERT_EQ(run.status, 0) << run.output;
}

std::vector<std::string> ScratchTest::Tree() const {
  std::vector<std::string> paths;
  for (auto& entry : fs::recursive_directory_iterator(dir_)) {
    std::string relative = fs::relative(entry.path(), dir_).generic_string();
    if (entry.is_directory()) relative += "/";
    paths.push_back(relative);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace quiver::test
