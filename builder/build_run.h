// The builder's process-wide run state and the one way out on failure.
#pragma once

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "archive_layout.h"

namespace quiver {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitReportError = 255;

struct StageEntry {
  char source_path[kNameSize];
  // File-system path of the member's temporary compressed file: the member's
  // path with "$" in its extension, or a variant of it when that is taken.
  char temp_path[kNameSize + 16];
  std::int32_t original_length;
  std::int32_t compressed_length;
  // Set only once this run has created temp_path, so clean-up never removes a
  // file that belongs to someone else.
  volatile std::sig_atomic_t temp_created;
};

struct BuildRun {
  std::FILE* response_file = nullptr;
  int archive_file = -1;
  std::unique_ptr<TocEntry[]> toc;
  std::unique_ptr<StageEntry[]> stage;
  std::int32_t count = 0;
  bool compress = false;
  bool smallest = false;
  bool response_open = false;
  bool archive_open = false;
  bool toc_ready = false;
  // Wider than the archive's fields: the sum of members under compression may
  // pass 2 GiB while the archive stays small.
  std::int64_t original_total = 0;
  std::int64_t compressed_total = 0;
  char dest_name[kNameSize] = {};
  char response_name[kNameSize] = {};
  // The archive is written under this name and renamed onto archive_target
  // only when complete.
  char archive_temp[PATH_MAX + 16] = {};
  volatile std::sig_atomic_t archive_temp_live = 0;
  char archive_target[PATH_MAX] = {};
};

extern BuildRun build_run;

// Removes every file this run created and has not committed. Safe to call
// from a signal handler.
void RemoveRunFiles();

// Releases what build_run holds, removes the run's files and ends the process.
[[noreturn]] void FatalExit(int status);

// The clean-up signals remove the run's files before the process dies.
void InstallSignalCleanup();

// Keeps the clean-up signals away while a file is created and recorded.
class SignalBlock {
 public:
  SignalBlock();
  ~SignalBlock();
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace quiver
