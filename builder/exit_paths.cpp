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
  DieBySignal(signal_number);
}

}  // namespace

void RemoveRunFiles(bool report) {
  StageEntry* stage = build_run.stage.get();
  if (stage != nullptr) {
    for (std::int32_t i = 0; i < build_run.count; ++i) {
      if (stage[i].temp_created) {
        if (!RemoveFile(stage[i].temp_path) && report) ReportLeftover(stage[i].temp_path);
        stage[i].temp_created = 0;
      }
    }
  }
  if (build_run.archive_temp_live) {
    if (!RemoveFile(build_run.archive_temp) && report) ReportLeftover(build_run.archive_temp);
    build_run.archive_temp_live = 0;
  }
}

void ReportLeftover(const char* path) {
  std::printf("Unable to delete temporary file %s\n", path);
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
  std::printf("Fatal error: ");
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  FatalExit(kExitReportError);
}

void OutOfMemory() {
  std::printf("Out of memory\n");
  FatalExit(kExitFailure);
}

void InstallSignalCleanup() {
  InstallCleanupHandler(CleanupSignalHandler);
}

}  // namespace quiver
