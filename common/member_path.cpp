#include "member_path.h"

namespace quiver {

std::string MapMemberPath(const char* name) {
  std::string path(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

std::string HiddenSiblingPrefix(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, base) + "." + path.substr(base, 32);
}

}  // namespace quiver
