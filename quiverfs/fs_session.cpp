#include "fs_session.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "absolute_path.h"
#include "exit_status.h"
#include "shown_name.h"

namespace quiver {
int ServeMount(const FsOptions& options, FsContext& context) {
  const std::optional<std::string> mount_point = AbsolutePath(options.mount_point);
  if (!mount_point) {
    std::fprintf(stderr, "quiverfs: no mount point %s\n", ShownName(options.mount_point).c_str());
    return kExitFailure;
  }
  std::vector<std::string> words = {"quiverfs", "-o", "fsname=quiverfs,subtype=quiverfs"};
  for (const std::string& option : options.mount_options) {
    words.push_back("-o");
    words.push_back(option);
  }
  // Last, so that no option given makes the mount writable.
  words.push_back("-o");
  words.push_back("ro,default_permissions");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
  const fuse_operations operations = FsOperations();
  fuse* fs = fuse_new(&args, &operations, sizeof operations, &context);
  fuse_opt_free_args(&args);
  if (fs == nullptr) return kExitFailure;
  int status = kExitFailure;
  if (fuse_mount(fs, mount_point->c_str()) == 0) {
    fuse_session* session = fuse_get_session(fs);
    if (fuse_daemonize(options.foreground) == 0 && fuse_set_signal_handlers(session) == 0) {
      // A signal ends the loop with its number, an unmount with 0: both
      // are a clean end.
      status = fuse_loop_mt(fs, 0) < 0 ? kExitFailure : kExitSuccess;
      fuse_remove_signal_handlers(session);
    }
    fuse_unmount(fs);
  }
  fuse_destroy(fs);
  return status;
}

}  // namespace quiver
