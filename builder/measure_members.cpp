#include "measure_members.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "build_run.h"
#include "exit_paths.h"
#include "member_path.h"
#include "name_crc.h"
#include "platform.h"
#include "progress.h"
#include "standard_output.h"
#include "worker_pool.h"

namespace quiver {
namespace {

// Members are measured this many at a time on a thread.
constexpr std::size_t kMeasuredRun = 256;

}  // namespace

void RecordMember(std::int32_t i, bool opened, const FileStatus& status) {
  TocEntry& entry = build_run.toc[i];
  StageEntry& stage = build_run.stage[i];
  entry.crc = NameCrc(entry.name);
  const std::int64_t size = status.size;
  if (!opened) {
    Print("Unable to open %s\n", entry.name);
    FatalExit(kExitFailure);
  }
  if (size == 0) {
    Print("Filelength on %s == %i\n", entry.name, 0);
    FatalExit(kExitFailure);
  }
  if (size > kMaxArchiveSize) {
    Print("%s is too large for a quiver (2 GiB or more)\n", entry.name);
    FatalExit(kExitFailure);
  }
  entry.original_length = static_cast<std::int32_t>(size);
  stage.original_length = entry.original_length;
  stage.measured = status;
  if (!build_run.compress)
    Progress("%s logged - %x %i\n", entry.name, entry.crc, entry.original_length);
  build_run.original_total += entry.original_length;
}

Measurements MeasureMembers(WorkerPool& pool) {
  // The file system answers several threads at once: members are measured
  // side by side in runs, all before any is recorded, so that no thread
  // still runs when a member that cannot be used ends the run.
  const auto count = static_cast<std::size_t>(build_run.count);
  Measurements measured{std::vector<FileStatus>(count), std::vector<char>(count)};
  std::vector<std::unique_ptr<PoolTask>> runs;
  for (std::size_t first = 0; first < count; first += kMeasuredRun) {
    const std::size_t end = std::min(count, first + kMeasuredRun);
    runs.push_back(std::make_unique<PoolTask>([&measured, first, end] {
      // Two calls a member instead of three for an open, and a device or
      // FIFO is never touched.
      for (std::size_t i = first; i < end; ++i)
        measured.opened[i] = IsReadableRegularFile(MapMemberPath(build_run.toc[i].name).c_str(),
                                                   measured.statuses[i]);
    }));
    pool.Submit(*runs.back());
  }
  for (const auto& run : runs) pool.Wait(*run);
  return measured;
}

void RecordMeasurements(const Measurements& measured) {
  for (std::size_t i = 0; i < measured.opened.size(); ++i)
    RecordMember(static_cast<std::int32_t>(i), measured.opened[i] != 0, measured.statuses[i]);
}

}  // namespace quiver
