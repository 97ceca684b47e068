// Mounting with libfuse and serving the kernel until the mount goes.
#pragma once

#include "command_line.h"
#include "fs_operations.h"

namespace quiver {

// Mounts read-only at the options' mount point, in the background unless
// -f, and serves requests on several threads until it is unmounted or
// signalled; the exit status.
int ServeMount(const FsOptions& options, FsContext& context);

}  // namespace quiver
