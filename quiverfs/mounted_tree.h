// The sources of a mount, layered as the library's Mounts, and which names
// the mounted tree shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quiver/reader.h"

namespace quiver {

struct MountedTree {
  Mounts mounts;
  // Each mount's own modification time: the time of all it serves.
  std::vector<std::int64_t> modified_ns;
  // Archives alone: nothing below the mount point changes while it is mounted.
  bool unchanging = true;
};

// Mounts each source in order, an archive or a directory, and says once on
// standard error which members of an archive it hides; false after saying
// why a source cannot be mounted.
bool MountSources(const std::vector<std::string>& sources, MountedTree& tree);

// Why a member's name has no place in the tree, or nullptr: what quiverx
// refuses to extract, control characters (which a shell, a script or a
// file manager may take for something else), and empty or "." components.
const char* HiddenNameReason(const char* name);

// Whether a listed entry's own name is shown: no control character and no
// "\" (a mounted directory may hold such files; the library reads "\" as a
// separator).
bool ShownEntryName(std::string_view name);

// The library's name for a path the kernel asks about ("/maps/a.map" is
// "maps/a.map", "/" is ""), or nullopt when no shown entry has that path.
std::optional<std::string_view> LibraryName(const char* path);

}  // namespace quiver
