#include "stored_build.h"

#include "archive_output.h"
#include "build_run.h"
#include "copy_stage.h"
#include "exit_paths.h"
#include "measure_members.h"
#include "member_path.h"
#include "platform.h"

namespace quiver {
namespace {

std::int32_t failed_member = -1;
CopyResult failure = CopyResult::kOk;

}  // namespace

void MeasureAndCopyMembers(std::vector<std::uint8_t>& copy_buffer) {
  std::int64_t offset = static_cast<std::int64_t>(kHeaderSize) +
                        static_cast<std::int64_t>(kRecordSize) * build_run.count;
  if (!SeekTo(build_run.archive_file, offset)) ArchiveWriteError();
  // Off once a copy failed, or once the archive would pass 2 GiB, which the
  // offsets then report.
  bool copying = true;
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    FileStatus status;
    const FileHandle file = OpenForReading(MapMemberPath(build_run.toc[i].name).c_str(), status);
    RecordMember(i, file != kNoFile, file != kNoFile ? status.size : 0);
    const std::int64_t size = build_run.stage[i].original_length;
    if (offset + size > kMaxArchiveSize) copying = false;
    if (copying) {
      // Exactly the bytes measured, from the file that was measured.
      failure = CopyRange(file, -1, build_run.archive_file, size, copy_buffer, kCopyBufferSize);
      if (failure != CopyResult::kOk) {
        failed_member = i;
        copying = false;
      }
    }
    offset += size;
    CloseFile(file);
  }
}

void ReportStoredCopies() {
  std::int32_t to_go = build_run.count;
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    const StageEntry& stage = build_run.stage[i];
    --to_go;
    ReportCopy(stage.source_path, stage.original_length, to_go);
    if (i != failed_member) continue;
    if (failure == CopyResult::kWriteError) ArchiveWriteError();
    CopyReadError(stage.source_path);
  }
}

}  // namespace quiver
