#include "copy_stage.h"

#include <cinttypes>

#include "archive_output.h"
#include "exit_paths.h"
#include "member_path.h"
#include "platform.h"
#include "progress.h"
#include "standard_output.h"

namespace quiver {
namespace {

// A failed copy as the copy stage reports it: some failures show before the
// member's progress line, the others after it.
enum class Failure {
  kNone,
  kUnopenable,      // before: the file could not be opened
  kLengthMismatch,  // before: it no longer holds the bytes expected
  kChangedBefore,   // before: a member stored raw is no longer as measured
  kRead,            // after
  kWrite,           // after
  kChangedAfter,    // after: it changed while it was read
};

// The early copies: the next member's offset, and the first that failed.
std::int64_t next_offset = 0;
bool copying = true;
std::int32_t failed_member = -1;
Failure failure = Failure::kNone;
std::string failed_shown;

// The archive's bytes from DataStart() to here are the old archive's own
// (-u), each copied from the same offset there.
std::int64_t mirrored_end = 0;

// Where the archive's file position stands, so that a copy seeks only
// after a gap.
std::int64_t archive_position = -1;

bool SeekArchive(std::int64_t offset) {
  if (archive_position == offset) return true;
  archive_position = -1;
  if (!SeekTo(build_run.archive_file, offset)) return false;
  archive_position = offset;
  return true;
}

// The file holding a member's stored bytes and their number.
struct CopySource {
  std::string path;
  const char* shown;  // in messages: the member's name as written, or the temporary path
  std::int64_t expected;
};

CopySource ChooseCopySource(const StageEntry& stage) {
  if (StoredRaw(stage))
    return {MapMemberPath(stage.source_path), stage.source_path, stage.original_length};
  return {stage.temp_path, stage.temp_path, stage.compressed_length};
}

Failure CopyFromFile(const StageEntry& stage, const CopySource& source,
                     std::vector<std::uint8_t>& copy_buffer) {
  FileStatus status;
  const FileHandle file = OpenForReading(source.path.c_str(), status);
  if (file == kNoFile) return Failure::kUnopenable;
  Failure result = Failure::kNone;
  // A member stored raw must still be the file that was measured and
  // compressed; a temporary file is this run's own.
  const bool member = StoredRaw(stage);
  if (status.size != source.expected) {
    result = Failure::kLengthMismatch;
  } else if (member && !SameFileState(stage.measured, status)) {
    result = Failure::kChangedBefore;
  } else {
    switch (CopyRange(file, -1, build_run.archive_file, source.expected, copy_buffer,
                      kCopyBufferSize)) {
      case CopyResult::kOk:
        break;
      case CopyResult::kShortSource:
      case CopyResult::kReadError:
        result = Failure::kRead;
        break;
      case CopyResult::kWriteError:
        result = Failure::kWrite;
        break;
    }
    FileStatus after;
    if (result == Failure::kNone && member &&
        (!StatusOf(file, after) || !SameFileState(status, after)))
      result = Failure::kChangedAfter;
  }
  CloseFile(file);
  return result;
}

// Copies member `i` to `offset` from its kept stream or from a file.
Failure CopyTo(std::int64_t offset, std::int32_t i, const std::vector<std::uint8_t>& stream,
               std::vector<std::uint8_t>& copy_buffer, std::string& shown) {
  const StageEntry& stage = build_run.stage[i];
  const CopySource source = ChooseCopySource(stage);
  shown = source.shown;
  if (!SeekArchive(offset)) return Failure::kWrite;
  archive_position = -1;
  Failure result;
  if (!StoredRaw(stage) && !stream.empty())
    result = WriteAll(build_run.archive_file, stream.data(), stream.size()) ? Failure::kNone
                                                                            : Failure::kWrite;
  else
    result = CopyFromFile(stage, source, copy_buffer);
  if (result == Failure::kNone) archive_position = offset + source.expected;
  return result;
}

}  // namespace

void StartCopies() {
  // A run in the same process (the fuzz targets) starts afresh.
  next_offset = DataStart();
  mirrored_end = next_offset;
  copying = true;
  failed_member = -1;
  failure = Failure::kNone;
  archive_position = -1;
}

void CopyMember(std::int32_t i, const std::vector<std::uint8_t>& stream,
                std::vector<std::uint8_t>& copy_buffer) {
  const StageEntry& stage = build_run.stage[i];
  const std::int64_t offset = next_offset;
  next_offset += StoredLength(stage);
  if (next_offset > kMaxArchiveSize) copying = false;
  // A member stored raw is read again in the copy stage, after all
  // compression, as the check that it is still as measured promises.
  if (!copying || StoredRaw(stage)) return;
  failure = CopyTo(offset, i, stream, copy_buffer, failed_shown);
  if (failure != Failure::kNone) {
    failed_member = i;
    copying = false;
  }
}

bool CopyMembersFrom(std::int32_t first, std::int32_t count, FileHandle file,
                     const FileStatus& checked, std::int64_t from,
                     std::vector<std::uint8_t>& copy_buffer) {
  const std::int64_t offset = next_offset;
  std::int64_t size = 0;
  for (std::int32_t i = first; i < first + count; ++i) size += StoredLength(build_run.stage[i]);
  if (copying && offset + size <= kMaxArchiveSize) {
    CopyResult result = CopyResult::kWriteError;
    if (SeekArchive(offset))
      result =
          CopyRange(file, from, build_run.archive_file, size, copy_buffer, kCopyBufferSize, offset);
    archive_position = -1;
    FileStatus now;
    const bool intact =
        result == CopyResult::kOk && StatusOf(file, now) && SameFileState(checked, now);
    // Nothing of these members may stay: a stream coded afresh may be shorter.
    if (!intact && (result != CopyResult::kWriteError || count > 1)) {
      if (TruncateFile(build_run.archive_file, offset)) return false;
      result = CopyResult::kWriteError;
    }
    if (result == CopyResult::kWriteError) {
      failure = Failure::kWrite;
      failed_shown = build_run.stage[first].source_path;
      failed_member = first;
      copying = false;
    } else {
      archive_position = offset + size;
      if (from == offset && offset == mirrored_end) mirrored_end += size;
      for (std::int32_t i = first; i < first + count; ++i)
        build_run.stage[i].raw_copied = StoredRaw(build_run.stage[i]);
    }
  }
  next_offset += size;
  if (next_offset > kMaxArchiveSize) copying = false;
  return true;
}

bool DataMirrorsOldArchive(std::int64_t old_size) {
  return copying && failure == Failure::kNone && mirrored_end == next_offset &&
         next_offset == old_size;
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

void ReportCopies(std::vector<std::uint8_t>& copy_buffer) {
  std::int32_t to_go = build_run.count;
  std::int64_t offset = DataStart();
  // The table has been written since.
  archive_position = -1;
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    const StageEntry& stage = build_run.stage[i];
    if (i != failed_member && StoredRaw(stage) && !stage.raw_copied) {
      failure = CopyTo(offset, i, {}, copy_buffer, failed_shown);
      if (failure != Failure::kNone) failed_member = i;
    }
    offset += StoredLength(stage);
    const bool failed = i == failed_member;
    if (failed) {
      switch (failure) {
        case Failure::kUnopenable:
          Print("Unable to open %s\n", failed_shown.c_str());
          FatalExit(kExitFailure);
        case Failure::kLengthMismatch:
          Print("Length match error in copying stage - file %s", stage.source_path);
          FatalExit(kExitFailure);
        case Failure::kChangedBefore:
          ChangedWhileCopied(failed_shown.c_str());
        default:
          break;
      }
    }
    --to_go;
    ReportCopy(stage.source_path, StoredLength(stage), to_go);
    if (!failed) continue;
    if (failure == Failure::kWrite) ArchiveWriteError();
    if (failure == Failure::kChangedAfter) ChangedWhileCopied(failed_shown.c_str());
    CopyReadError(failed_shown.c_str());
  }
}

}  // namespace quiver
