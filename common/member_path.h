// Member names are written with "\" between directories; on Linux the file
// system sees "/" instead. The stored name is never changed.
#pragma once

#include <string>

namespace quiver {

std::string MapMemberPath(const char* name);

inline bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// The start of a hidden name beside the file-system path `path`, for a file
// that becomes `path` once complete: its directory, a dot, and no more of
// its base name than leaves room for a suffix wherever the path itself fits.
std::string HiddenSiblingPrefix(const std::string& path);

}  // namespace quiver
