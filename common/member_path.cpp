#include "member_path.h"

namespace quiver {

std::string MapMemberPath(const char* name) {
  std::string path(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

const char* UnsafeNameReason(const char* name) {
  if (name[0] == '\0') return "empty name";
  if (IsSeparator(name[0])) return "absolute path";
  bool letter = (name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z');
  if (letter && name[1] == ':') return "drive prefix";
  const char* component = name;
  for (const char* p = name;; ++p) {
    if (*p == '\0' || IsSeparator(*p)) {
      std::size_t length = static_cast<std::size_t>(p - component);
      if (length == 2 && component[0] == '.' && component[1] == '.') return "parent directory";
      if (*p == '\0') {
        if (length == 0 || (length == 1 && component[0] == '.')) return "directory name";
        return nullptr;
      }
      component = p + 1;
    }
  }
}

std::string HiddenSiblingPrefix(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, base) + "." + path.substr(base, 32);
}

}  // namespace quiver
