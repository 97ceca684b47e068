#include "extractor_options.h"

#include <string_view>

#include "option_scan.h"

namespace quiver {

ParseResult ParseExtractorOptions(int argc, char** argv, ExtractorOptions& options) {
  OptionScan scan(argc, argv);
  for (std::string_view option; scan.Next(option);) {
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
    } else if (const char* count = scan.Value(option, "-j", "--threads")) {
      options.threads = ThreadCount(count);
      if (options.threads == 0) return ParseResult::kUsage;
    } else if (const char* directory = scan.Value(option, "-C", "--directory")) {
      if (*directory == '\0') return ParseResult::kUsage;
      options.directory = directory;
    } else {
      return ParseResult::kUsage;
    }
  }
  options.first = scan.position();
  const int positional = argc - options.first;
  if (positional < 1) return ParseResult::kUsage;
  const char mode = argv[options.first][0];
  // Testing takes the archive alone; a format is for the listing.
  if (options.test && (positional != 1 || mode == '+' || mode == '?')) return ParseResult::kUsage;
  if (options.format != ListFormat::kText && (positional != 1 || mode != '?'))
    return ParseResult::kUsage;
  return ParseResult::kRun;
}

}  // namespace quiver
