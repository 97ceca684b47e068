#include "exit_paths.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "build_run.h"
#include "platform.h"
#include "standard_output.h"

namespace quiver {
namespace {

void CleanupSignalHandler(int signal_number) {
  if (build_run.committed) return;
  RemoveRunFiles(false);
  // A log shows how far the run got.
  HoldBrokenPipe();
  WritePendingOutput();
  DieBySignal(signal_number);
}

// False when `path` stays, named on standard output when `report` is set.
bool Remove(const char* path, bool report) {
  if (RemoveFile(path)) return true;
  if (report) Print("Unable to delete temporary file %s\n", path);
  return false;
}

}  // namespace

bool RemoveMemberTemporaries(bool report) {
  StageEntry* stage = build_run.stage.data();
  bool all_gone = true;
  for (std::int32_t i = 0; stage != nullptr && i < build_run.count; ++i) {
    if (stage[i].temp_created) {
      all_gone = Remove(stage[i].temp_path, report) && all_gone;
      stage[i].temp_created = 0;
    }
  }
  return all_gone;
}

void RemoveRunFiles(bool report) {
  RemoveMemberTemporaries(report);
  if (build_run.archive_temp_live) {
    Remove(build_run.archive_temp, report);
    build_run.archive_temp_live = 0;
  }
}

void FatalExit(int status) {
  {
    CleanupSignalBlock block;
    RemoveRunFiles(true);
  }
  status = FinishStandardOutput(status, "quiver");
  if (build_run.response_open) std::fclose(build_run.response_file);
  if (build_run.archive_open) CloseFile(build_run.archive_file);
  // Without running destructors: compression workers may still be reading
  // the run state that they would free.
  std::_Exit(status);
}

void ReportError(const char* format, ...) {
  Print("Fatal error: ");
  va_list args;
  va_start(args, format);
  PrintList(format, args);
  va_end(args);
  FatalExit(kExitReportError);
}

void OutOfMemory() {
  Print("Out of memory\n");
  FatalExit(kExitFailure);
}

void InstallSignalCleanup() {
  InstallCleanupHandler(CleanupSignalHandler);
}

}  // namespace quiver
