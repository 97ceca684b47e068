// A scratch directory for one fuzzing process, removed when it exits.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace quiver::fuzz {

inline std::filesystem::path& ScratchDirectory() {
  static std::filesystem::path directory;
  return directory;
}

inline std::filesystem::path MakeScratch(const std::string& name) {
  std::string pattern = "/tmp/quiver-fuzz-" + name + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  ScratchDirectory() = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchDirectory(), ignored);
  });
  return pattern;
}

}  // namespace quiver::fuzz
