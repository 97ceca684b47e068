// Signals that end a run from outside, after which the run's unfinished
// files must not stay behind: SIGINT, SIGTERM, SIGHUP, and SIGPIPE when the
// reader of standard output has gone.
#pragma once

#include <signal.h>

namespace quiver {

// Routes each of them to `handler`, except one the program was started
// with ignored (under nohup, or as a background job), which stays ignored.
void InstallCleanupHandler(void (*handler)(int));

// All of them, to block while a file is created and recorded.
sigset_t CleanupSignalSet();

}  // namespace quiver
