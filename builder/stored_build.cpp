#include "stored_build.h"

#include <utility>

#include "archive_output.h"
#include "build_run.h"
#include "copy_stage.h"
#include "exit_paths.h"
#include "measure_members.h"
#include "member_path.h"
#include "platform.h"
#include "standard_output.h"

namespace quiver {
namespace {

enum class Failure { kNone, kRead, kWrite, kChanged };

std::int32_t failed_member = -1;
Failure failure = Failure::kNone;

// A member shorter than this is read into the gathering buffer, to reach
// the archive in one large write with the members around it; a longer one
// is copied on its own, inside the kernel where it can be.
constexpr std::int64_t kGathered = 256 << 10;

// The bytes of short members, in archive order, waiting to be written.
class Gathered {
 public:
  explicit Gathered(std::vector<std::uint8_t>& buffer) : buffer_(buffer) {
    buffer_.resize(kCopyBufferSize);
  }

  bool Fits(std::int64_t size) const {
    return filled_ + static_cast<std::size_t>(size) <= buffer_.size();
  }
  std::uint8_t* End() { return buffer_.data() + filled_; }
  void Add(std::int32_t member, std::int64_t size) {
    filled_ += static_cast<std::size_t>(size);
    ends_.emplace_back(member, filled_);
  }

  // Writes what it holds; -1, or the member whose bytes did not all go.
  std::int32_t Write() {
    const std::size_t written = WritePrefix(build_run.archive_file, buffer_.data(), filled_);
    std::int32_t failed = -1;
    for (const auto& [member, end] : ends_) {
      if (end > written) {
        failed = member;
        break;
      }
    }
    filled_ = 0;
    ends_.clear();
    return failed;
  }

 private:
  std::vector<std::uint8_t>& buffer_;
  std::size_t filled_ = 0;
  std::vector<std::pair<std::int32_t, std::size_t>> ends_;  // member, end of its bytes
};

Failure Unchanged(FileHandle file, const FileStatus& before) {
  FileStatus after;
  if (!StatusOf(file, after)) return Failure::kRead;
  return SameFileState(before, after) ? Failure::kNone : Failure::kChanged;
}

// Copies the measured bytes of the long member open at `file`, whose status
// was `before`, to `offset` in the archive, and checks that it is still as
// measured once they are read.
Failure CopyOnItsOwn(const char* name, FileHandle file, const FileStatus& before, std::int64_t size,
                     std::int64_t offset, std::vector<std::uint8_t>& copy_buffer) {
  const LongWork shown(name, size, build_run.archive_file, offset);
  switch (CopyRange(file, 0, build_run.archive_file, size, copy_buffer, kCopyBufferSize, offset)) {
    case CopyResult::kOk:
      return Unchanged(file, before);
    case CopyResult::kWriteError:
      return Failure::kWrite;
    case CopyResult::kShortSource:
    case CopyResult::kReadError:
      break;
  }
  return Failure::kRead;
}

// Reads the measured bytes of the short member open at `file` into the
// gathering buffer.
Failure Gather(FileHandle file, const FileStatus& before, std::int64_t size, Gathered& gathered) {
  if (ReadFull(file, gathered.End(), static_cast<std::size_t>(size)) != size) return Failure::kRead;
  return Unchanged(file, before);
}

// Records the first failure. Bytes gathered before it are written first, as
// a copy member by member would have, and their failed write comes first.
void Fail(std::int32_t member, Failure reason, Gathered& gathered) {
  const std::int32_t unwritten = gathered.Write();
  failed_member = unwritten >= 0 ? unwritten : member;
  failure = unwritten >= 0 ? Failure::kWrite : reason;
}

}  // namespace

void MeasureAndCopyMembers(std::vector<std::uint8_t>& copy_buffer) {
  std::int64_t offset = DataStart();
  if (!SeekTo(build_run.archive_file, offset)) ArchiveWriteError();
  std::vector<std::uint8_t> gather_buffer;
  Gathered gathered(gather_buffer);
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
      const bool own = size >= kGathered;
      const std::int32_t unwritten = own || !gathered.Fits(size) ? gathered.Write() : -1;
      const Failure result =
          unwritten >= 0 ? Failure::kWrite
          : own ? CopyOnItsOwn(build_run.toc[i].name, file, status, size, offset, copy_buffer)
                : Gather(file, status, size, gathered);
      if (!own && unwritten < 0 && result != Failure::kRead) gathered.Add(i, size);
      if (result != Failure::kNone) {
        Fail(unwritten >= 0 ? unwritten : i, result, gathered);
        copying = false;
      }
    }
    offset += size;
    CloseFile(file);
  }
  if (copying) {
    if (const std::int32_t unwritten = gathered.Write(); unwritten >= 0)
      Fail(unwritten, Failure::kWrite, gathered);
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
