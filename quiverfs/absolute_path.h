// libfuse leaves the directory quiverfs started in once it mounts, so every
// path it keeps (the mount point, mounted directories) must not be relative.
#pragma once

#include <optional>
#include <string>

namespace quiver {

// `path` with no symbolic link, "." or ".." left, from the root; nullopt
// when it does not exist.
std::optional<std::string> AbsolutePath(const std::string& path);

}  // namespace quiver
