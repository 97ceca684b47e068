#include "command_line.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "build_run.h"
#include "exit_paths.h"
#include "option_scan.h"
#include "standard_output.h"

namespace quiver {
namespace {

constexpr char kResponseExtension[] = ".rsp";

void SetPath(char* buffer, const char* base, const char* extension, const char* what) {
  if (std::strlen(base) > kMaxBaseName) {
    Print("%s name is longer than %zu characters: %s\n", what, kMaxBaseName, base);
    FatalExit(kExitFailure);
  }
  std::snprintf(buffer, kNameSize, "%s%s", base, extension);
}

void PrintUsageText() {
  Print("\n");
  Print("Usage: quiver [-c]|[-s] destfile @rspfile\n");
  Print("\tdestname    - Destination filename\n");
  Print("\trspfile     - Response filename\n");
  Print("\t[-c]        - Compress files option\n");
  Print("\t[-s]        - Compress files - smallest possible output option\n");
  Print("\n");
  Print("Do not give destfile or rspfile extensions.\n");
  Print("Destination file is given .qvr extension.\n");
  Print("Response file is assumed to have .rsp extension.\n");
  Print("\n");
}

[[noreturn]] void PrintHelp() {
  PrintUsageText();
  Print("Options, before destfile:\n");
  Print("\t-c, -s              - as above\n");
  Print("\t-j N, --threads=N   - at most N threads (default: the processors it may use)\n");
  Print("\t-u, --update        - reuse the streams of the archive being replaced\n");
  Print("\t-q, --quiet         - print failures only\n");
  Print("\t--                  - ends the options\n");
  Print("\t@-                  - read the response text from standard input\n");
  Print("\t-h, --help          - this text; --version - the version\n");
  Print("\n");
  FatalExit(kExitSuccess);
}

// The command lines of the first version: [-c|-s] destfile @rspfile, where
// a destination that begins with "-" is still a destination.
bool ParseClassic(int arguments, char** argv, const char*& destination) {
  if (arguments == 2) {
    destination = argv[1];
    return true;
  }
  if (arguments != 3) return false;
  const std::string_view option = argv[1];
  if (option != "-c" && option != "-s") return false;
  build_run.compress = true;
  build_run.smallest = option == "-s";
  destination = argv[2];
  return true;
}

// Options, then destfile and @rspfile: where the first version's command
// lines are a usage error. False on anything it does not know.
bool ParseOptions(int argc, char** argv, const char*& destination) {
  OptionScan scan(argc, argv);
  for (std::string_view option; scan.Next(option);) {
    if (option == "-c" || option == "-s") {
      build_run.compress = true;
      build_run.smallest = build_run.smallest || option == "-s";
    } else if (option == "-u" || option == "--update") {
      build_run.update = true;
    } else if (option == "-q" || option == "--quiet") {
      build_run.quiet = true;
    } else if (const char* count = scan.Value(option, "-j", "--threads")) {
      build_run.threads = ThreadCount(count);
      if (build_run.threads == 0) return false;
    } else {
      return false;
    }
  }
  if (argc - scan.position() != 2) return false;
  destination = argv[scan.position()];
  return true;
}

}  // namespace

void PrintUsage() {
  PrintUsageText();
  FatalExit(kExitUsage);
}

void ParseBuilderCommandLine(int argc, char** argv) {
  const int arguments = argc - 1;
  if (arguments == 1) {
    const std::string_view only = argv[1];
    if (only == "--help" || only == "-h") PrintHelp();
    if (only == "--version") {
      Print("quiver %s\n", QUIVER_VERSION);
      FatalExit(kExitSuccess);
    }
  }
  const char* destination = nullptr;
  const bool classic = ParseClassic(arguments, argv, destination) && argv[argc - 1][0] == '@';
  if (!classic) {
    build_run.compress = build_run.smallest = false;
    if (!ParseOptions(argc, argv, destination)) PrintUsage();
  }
  const char* response = argv[argc - 1];
  if (response[0] != '@') PrintUsage();
  SetPath(build_run.dest_name, destination, kArchiveExtension, "Destination");
  if (std::strcmp(response, "@-") == 0) {
    build_run.response_from_input = true;
    std::snprintf(build_run.response_name, sizeof build_run.response_name, "-");
    return;
  }
  SetPath(build_run.response_name, response + 1, kResponseExtension, "Response file");
}

}  // namespace quiver
