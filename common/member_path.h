// Member names are written with "\" between directories; on Linux the file
// system sees "/" instead. The stored name is never changed.
#pragma once

#include <string>

namespace quiver {

std::string MapMemberPath(const char* name);

inline bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace quiver
