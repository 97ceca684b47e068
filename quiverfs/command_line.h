// quiverfs's command line: options first ("--" ends them), then the sources
// in the order they are layered, then the mount point.
#pragma once

#include <string>
#include <vector>

namespace quiver {

struct FsOptions {
  std::vector<std::string> sources;  // archives and directories, later over earlier
  std::string mount_point;
  bool foreground = false;                 // -f
  std::vector<std::string> mount_options;  // each -o's text, passed on to libfuse
};

enum class FsParse { kRun, kHelp, kVersion, kUsage };

FsParse ParseFsOptions(int argc, char** argv, FsOptions& options);

}  // namespace quiver
