// The builder's ways out on failure. Each removes every file the run
// created and has not committed, so a failed run leaves nothing behind.
#pragma once

#include "exit_status.h"
#include "standard_output.h"

namespace quiver {

// Removes every file this run created and has not committed, naming on
// standard output each that stays when `report` is set. Safe to call from a
// signal handler without it.
void RemoveRunFiles(bool report);

// Removes the members' temporary files; false when one stays, which is
// named on standard output when `report` is set.
bool RemoveMemberTemporaries(bool report);

// Releases what build_run holds, removes the run's files and ends the process.
[[noreturn]] void FatalExit(int status);

// Prints "Fatal error: " and the message, removes the run's unfinished files
// and ends the process with status 255.
[[noreturn]] void ReportError(const char* format, ...) QUIVER_PRINTF(1, 2);

// Prints "Out of memory" and ends the run through FatalExit.
[[noreturn]] void OutOfMemory();

// The clean-up signals remove the run's files before the process dies.
void InstallSignalCleanup();

}  // namespace quiver
