#include "command_line.h"

#include <cstdio>
#include <cstring>

#include "build_run.h"
#include "exit_paths.h"

namespace quiver {
namespace {

constexpr char kResponseExtension[] = ".rsp";

void SetPath(char* buffer, const char* base, const char* extension, const char* what) {
  if (std::strlen(base) > kMaxBaseName) {
    std::printf("%s name is longer than %zu characters: %s\n", what, kMaxBaseName, base);
    FatalExit(kExitFailure);
  }
  std::snprintf(buffer, kNameSize, "%s%s", base, extension);
}

}  // namespace

void PrintUsage() {
  std::printf("\n");
  std::printf("Usage: quiver [-c]|[-s] destfile @rspfile\n");
  std::printf("\tdestname    - Destination filename\n");
  std::printf("\trspfile     - Response filename\n");
  std::printf("\t[-c]        - Compress files option\n");
  std::printf("\t[-s]        - Compress files - smallest possible output option\n");
  std::printf("\n");
  std::printf("Do not give destfile or rspfile extensions.\n");
  std::printf("Destination file is given .qvr extension.\n");
  std::printf("Response file is assumed to have .rsp extension.\n");
  std::printf("\n");
  FatalExit(kExitUsage);
}

void ParseBuilderCommandLine(int argc, char** argv) {
  int arguments = argc - 1;
  if (arguments < 2 || arguments > 3) PrintUsage();
  const char* destination = argv[1];
  if (arguments == 3) {
    if (std::strcmp(argv[1], "-c") == 0) {
      build_run.compress = true;
    } else if (std::strcmp(argv[1], "-s") == 0) {
      build_run.compress = true;
      build_run.smallest = true;
    } else {
      PrintUsage();
    }
    destination = argv[2];
  }
  const char* response = argv[argc - 1];
  if (response[0] != '@') PrintUsage();
  SetPath(build_run.dest_name, destination, kArchiveExtension, "Destination");
  SetPath(build_run.response_name, response + 1, kResponseExtension, "Response file");
}

}  // namespace quiver
