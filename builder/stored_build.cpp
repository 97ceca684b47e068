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

enum class Failure { kNone, kRead, kWrite, kChanged };

std::int32_t failed_member = -1;
Failure failure = Failure::kNone;

// Copies the measured bytes of the member open at `file`, whose status was
// `before`, and checks that it is still as measured once they are read.
Failure CopyMember(FileHandle file, const FileStatus& before, std::int64_t size,
                   std::vector<std::uint8_t>& copy_buffer) {
  switch (CopyRange(file, -1, build_run.archive_file, size, copy_buffer, kCopyBufferSize)) {
    case CopyResult::kOk:
      break;
    case CopyResult::kWriteError:
      return Failure::kWrite;
    case CopyResult::kShortSource:
    case CopyResult::kReadError:
      return Failure::kRead;
  }
  FileStatus after;
  if (!StatusOf(file, after)) return Failure::kRead;
  return SameFileState(before, after) ? Failure::kNone : Failure::kChanged;
}

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
    RecordMember(i, file != kNoFile, status);
    const std::int64_t size = build_run.stage[i].original_length;
    if (offset + size > kMaxArchiveSize) copying = false;
    if (copying) {
      // Exactly the bytes measured, from the file that was measured.
      failure = CopyMember(file, status, size, copy_buffer);
      if (failure != Failure::kNone) {
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
    if (failure == Failure::kWrite) ArchiveWriteError();
    if (failure == Failure::kChanged) ChangedWhileCopied(stage.source_path);
    CopyReadError(stage.source_path);
  }
}

}  // namespace quiver
