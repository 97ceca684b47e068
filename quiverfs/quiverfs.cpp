#include "quiverfs.h"

#include <unistd.h>

#include <cstdio>

#include "command_line.h"
#include "exit_status.h"
#include "fs_session.h"
#include "mounted_tree.h"

namespace quiver {
namespace {

void PrintUsage(std::FILE* out) {
  std::fputs(
      "Usage: quiverfs [options] SOURCE... MOUNTPOINT\n"
      "Mounts archives (.qvr) and directories read-only at MOUNTPOINT, each\n"
      "SOURCE over the ones before it. Unmount with: fusermount3 -u MOUNTPOINT\n",
      out);
}

void PrintHelp() {
  PrintUsage(stdout);
  std::fputs(
      "Options, before the sources (a source named -name is then ./-name):\n"
      "\t-f            - stay in the foreground\n"
      "\t-o OPTIONS    - mount options, passed on to libfuse (allow_other, ...)\n"
      "\t--            - ends the options\n"
      "\t-h, --help; --version\n",
      stdout);
}

}  // namespace

int RunQuiverfs(int argc, char** argv) {
  FsOptions options;
  switch (ParseFsOptions(argc, argv, options)) {
    case FsParse::kRun:
      break;
    case FsParse::kHelp:
      PrintHelp();
      return kExitSuccess;
    case FsParse::kVersion:
      std::printf("quiverfs %s\n", QUIVER_VERSION);
      return kExitSuccess;
    case FsParse::kUsage:
      PrintUsage(stderr);
      return kExitUsage;
  }
  MountedTree tree;
  if (!MountSources(options.sources, tree)) return kExitFailure;
  FsContext context{&tree, getuid(), getgid()};
  return ServeMount(options, context);
}

}  // namespace quiver
