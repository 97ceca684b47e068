// Member names are written with "\" between directories; on Linux the file
// system sees "/" instead. The stored name is never changed.
#pragma once

#include <string>

namespace quiver {

std::string MapMemberPath(const char* name);

inline bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// Why a stored name must not become a path below a directory, or nullptr
// when it is safe: empty, absolute, with a drive, with a ".." component, or
// naming a directory.
const char* UnsafeNameReason(const char* name);

// The start of a hidden name beside the file-system path `path`, for a file
// that becomes `path` once complete: its directory, a dot, and no more of
// its base name than leaves room for a suffix wherever the path itself fits.
std::string HiddenSiblingPrefix(const std::string& path);

}  // namespace quiver
