#include "extractor_options.h"

#include <string_view>

namespace quiver {
namespace {

// The value of "--name=value" or of "-x value"; nullptr when missing.
const char* Value(int argc, char** argv, int& i, std::string_view option,
                  std::string_view short_name, std::string_view long_name) {
  if (option == short_name) return i + 1 < argc ? argv[++i] : nullptr;
  if (option.starts_with(long_name) && option.size() > long_name.size() &&
      option[long_name.size()] == '=')
    return argv[i] + long_name.size() + 1;
  return nullptr;
}

}  // namespace

ParseResult ParseExtractorOptions(int argc, char** argv, ExtractorOptions& options) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string_view option = argv[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (option == "-h" || option == "--help") return ParseResult::kHelp;
    if (option == "--version") return ParseResult::kVersion;
    if (option == "-t" || option == "--test") {
      options.test = true;
    } else if (option == "-n" || option == "--no-overwrite") {
      options.no_overwrite = true;
    } else if (option == "-q" || option == "--quiet") {
      options.quiet = true;
    } else if (option == "--format=tsv") {
      options.format = ListFormat::kTsv;
    } else if (option == "--format=json") {
      options.format = ListFormat::kJson;
    } else if (const char* directory = Value(argc, argv, i, option, "-C", "--directory")) {
      if (*directory == '\0') return ParseResult::kUsage;
      options.directory = directory;
    } else {
      return ParseResult::kUsage;
    }
  }
  options.first = i;
  const int positional = argc - i;
  if (positional < 1) return ParseResult::kUsage;
  const char mode = argv[i][0];
  // Testing takes the archive alone; a format is for the listing.
  if (options.test && (positional != 1 || mode == '+' || mode == '?')) return ParseResult::kUsage;
  if (options.format != ListFormat::kText && (positional != 1 || mode != '?'))
    return ParseResult::kUsage;
  return ParseResult::kRun;
}

}  // namespace quiver
