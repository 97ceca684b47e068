#include "command_line.h"

#include <string_view>

#include "option_scan.h"

namespace quiver {

FsParse ParseFsOptions(int argc, char** argv, FsOptions& options) {
  OptionScan scan(argc, argv);
  for (std::string_view option; scan.Next(option);) {
    if (option == "-h" || option == "--help") return FsParse::kHelp;
    if (option == "--version") return FsParse::kVersion;
    if (option == "-f") {
      options.foreground = true;
    } else if (const char* value = scan.Value(option, "-o", "--options")) {
      if (*value == '\0') return FsParse::kUsage;
      options.mount_options.emplace_back(value);
    } else if (option.starts_with("-o") && option.size() > 2) {
      // "-oallow_other", as mount programs take it.
      options.mount_options.emplace_back(option.substr(2));
    } else {
      return FsParse::kUsage;
    }
  }
  const int first = scan.position();
  if (argc - first < 2) return FsParse::kUsage;
  options.sources.assign(argv + first, argv + argc - 1);
  options.mount_point = argv[argc - 1];
  return FsParse::kRun;
}

}  // namespace quiver
