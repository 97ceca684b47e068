#include "absolute_path.h"

#include <climits>
#include <cstdlib>

namespace quiver {

std::optional<std::string> AbsolutePath(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
  return std::string(resolved);
}

}  // namespace quiver
