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
// naming a directory; where file names follow Windows' rules, also what
// WindowsUnsafeNameReason refuses.
const char* UnsafeNameReason(const char* name);

// Why a name that is safe on Linux must not become a path on Windows, or
// nullptr: a component that is a device (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, with any extension, in any case), or that ends in a dot or a
// space, which Win32 strips ("..." is ".."); a colon (a drive or a data
// stream); a character Windows refuses in names; bytes that are not UTF-8.
const char* WindowsUnsafeNameReason(const char* name);

// The start of a hidden name beside the file-system path `path`, for a file
// that becomes `path` once complete: its directory, a dot, and no more of
// its base name than leaves room for a suffix wherever the path itself fits.
std::string HiddenSiblingPrefix(const std::string& path);

}  // namespace quiver
