#include "copy_stage.h"

#include <cinttypes>

#include "archive_output.h"
#include "exit_paths.h"
#include "member_path.h"
#include "platform.h"
#include "progress.h"
#include "standard_output.h"

namespace quiver {

CopySource ChooseCopySource(const StageEntry& stage) {
  if (StoredRaw(stage))
    return {MapMemberPath(stage.source_path), stage.source_path, stage.original_length};
  return {stage.temp_path, stage.temp_path, stage.compressed_length};
}

void ReportCopy(const char* source_path, std::int64_t size, std::int32_t to_go) {
  Progress("Copying file %s of %" PRId64 " bytes | %i to go\n", source_path, size, to_go);
}

void CopyReadError(const char* shown) {
  Print("Unable to read %s in copying stage\n", shown);
  FatalExit(kExitFailure);
}

void ChangedWhileCopied(const char* shown) {
  Print("%s changed during copying\n", shown);
  FatalExit(kExitFailure);
}

void CopyMembers(std::vector<std::uint8_t>& copy_buffer) {
  std::int32_t to_go = build_run.count;
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    const StageEntry& stage = build_run.stage[i];
    const CopySource source = ChooseCopySource(stage);
    FileStatus status;
    const FileHandle file = OpenForReading(source.path.c_str(), status);
    if (file == kNoFile) {
      Print("Unable to open %s\n", source.shown);
      FatalExit(kExitFailure);
    }
    if (status.size != source.expected) {
      Print("Length match error in copying stage - file %s", stage.source_path);
      FatalExit(kExitFailure);
    }
    // A member stored raw must still be the file that was measured and
    // compressed; a temporary file is this run's own.
    const bool member = StoredRaw(stage);
    if (member && !SameFileState(stage.measured, status)) ChangedWhileCopied(source.shown);
    --to_go;
    ReportCopy(stage.source_path, source.expected, to_go);
    switch (CopyRange(file, -1, build_run.archive_file, source.expected, copy_buffer,
                      kCopyBufferSize)) {
      case CopyResult::kOk:
        break;
      case CopyResult::kShortSource:
      case CopyResult::kReadError:
        CopyReadError(source.shown);
      case CopyResult::kWriteError:
        ArchiveWriteError();
    }
    FileStatus after;
    if (member && (!StatusOf(file, after) || !SameFileState(status, after)))
      ChangedWhileCopied(source.shown);
    CloseFile(file);
  }
}

}  // namespace quiver
