#include "build_run.h"

#include <unistd.h>

#include <cstdlib>

#include "cleanup_signals.h"
#include "standard_output.h"

namespace quiver {

BuildRun build_run;

namespace {

void CleanupSignalHandler(int signal_number) {
  RemoveRunFiles();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

void RemoveRunFiles() {
  StageEntry* stage = build_run.stage.get();
  if (stage != nullptr) {
    for (std::int32_t i = 0; i < build_run.count; ++i) {
      if (stage[i].temp_created) {
        ::unlink(stage[i].temp_path);
        stage[i].temp_created = 0;
      }
    }
  }
  if (build_run.archive_temp_live) {
    ::unlink(build_run.archive_temp);
    build_run.archive_temp_live = 0;
  }
}

void FatalExit(int status) {
  status = FinishStandardOutput(status, "quiver");
  {
    SignalBlock block;
    RemoveRunFiles();
  }
  if (build_run.response_open) std::fclose(build_run.response_file);
  if (build_run.archive_open) ::close(build_run.archive_file);
  // Without running destructors: compression workers may still be reading
  // the run state that they would free.
  std::_Exit(status);
}

void InstallSignalCleanup() {
  InstallCleanupHandler(CleanupSignalHandler);
}

SignalBlock::SignalBlock() {
  sigset_t set = CleanupSignalSet();
  sigprocmask(SIG_BLOCK, &set, &saved_);
}

SignalBlock::~SignalBlock() {
  sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace quiver
