// quiverx's options. A first argument that begins with "-" starts them;
// they come before the archive argument, and "--" ends them. A command line
// without options means what it always has.
#pragma once

#include <string>

namespace quiver {

enum class ListFormat { kText, kTsv, kJson };

struct ExtractorOptions {
  std::string directory;  // -C: write below it instead of the current directory
  bool test = false;      // -t: check the whole archive, write nothing
  ListFormat format = ListFormat::kText;
  bool no_overwrite = false;  // -n: skip members whose path exists
  bool quiet = false;         // -q: failures only
  int threads = 0;            // -j: at most this many, or 0 for the processors
  int first = 1;              // argv index of the archive argument
};

enum class ParseResult { kRun, kHelp, kVersion, kUsage };

ParseResult ParseExtractorOptions(int argc, char** argv, ExtractorOptions& options);

}  // namespace quiver
