#include "measure_members.h"

#include "build_run.h"
#include "exit_paths.h"
#include "member_path.h"
#include "name_crc.h"
#include "platform.h"
#include "progress.h"
#include "standard_output.h"

namespace quiver {

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

void MeasureMembers() {
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    // Two calls a member instead of three for an open, and a device or FIFO
    // is never touched.
    FileStatus status;
    bool opened = IsReadableRegularFile(MapMemberPath(build_run.toc[i].name).c_str(), status);
    RecordMember(i, opened, status);
  }
}

}  // namespace quiver
