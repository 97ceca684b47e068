#include "member_path.h"

namespace quiver {

std::string MapMemberPath(const char* name) {
  std::string path(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

}  // namespace quiver
