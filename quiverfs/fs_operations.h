// The file system's answers to the kernel over a mounted tree: entries,
// listings and reads; every write the kernel refuses on the read-only mount.
#pragma once

#include <fuse.h>
#include <sys/types.h>

#include "mounted_tree.h"

namespace quiver {

// What every answer reads; libfuse hands it to each operation.
struct FsContext {
  const MountedTree* tree = nullptr;
  uid_t uid = 0;  // every entry is owned by whoever mounted it
  gid_t gid = 0;
};

fuse_operations FsOperations();

}  // namespace quiver
