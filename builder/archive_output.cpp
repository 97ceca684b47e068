#include "archive_output.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "build_run.h"
#include "copy_stage.h"
#include "exit_paths.h"
#include "member_path.h"
#include "platform.h"
#include "standard_output.h"

namespace quiver {

bool OpenArchiveOutput() {
  // A destination that is a symbolic link keeps the link; the file it
  // points to is replaced.
  const std::string target = FollowLinks(build_run.dest_name);
  std::uint32_t permissions = NewFilePermissions();
  FileStatus existing;
  if (StatusOfPath(target.c_str(), existing)) {
    if (!existing.regular) return false;
    permissions = existing.permissions;
  }
  const std::string prefix = HiddenSiblingPrefix(target) + ".";
  if (prefix.size() + 6 >= sizeof build_run.archive_temp) return false;
  std::snprintf(build_run.archive_target, sizeof build_run.archive_target, "%s", target.c_str());
  CleanupSignalBlock block;
  std::string temp;
  const FileHandle file = CreateUniqueFile(temp, prefix);
  if (file == kNoFile) return false;
  std::snprintf(build_run.archive_temp, sizeof build_run.archive_temp, "%s", temp.c_str());
  build_run.archive_temp_live = 1;
  build_run.archive_file = file;
  build_run.archive_open = true;
  SetPermissions(file, permissions);
  return true;
}

void WriteHeaderAndTable(std::vector<std::uint8_t>& copy_buffer) {
  if (!SeekTo(build_run.archive_file, 0)) ArchiveWriteError();
  ArchiveHeader header;
  header.count = build_run.count;
  header.compressed = build_run.compress ? 1 : 0;
  std::uint8_t header_bytes[kHeaderSize];
  EncodeHeader(header, header_bytes);
  if (!WriteAll(build_run.archive_file, header_bytes, kHeaderSize)) ArchiveWriteError();
  // A buffer's worth of records per write, so the table's image never stands
  // whole in memory beside the table itself. The copy buffer serves when
  // copies made it; else a small one, as memory first touched costs more
  // than the writes it saves.
  constexpr std::size_t kTableWrite = 64 << 10;
  if (copy_buffer.size() < kTableWrite) copy_buffer.resize(kTableWrite);
  const auto records_per_write = static_cast<std::int32_t>(copy_buffer.size() / kRecordSize);
  for (std::int32_t first = 0; first < build_run.count; first += records_per_write) {
    const std::int32_t last = std::min(build_run.count, first + records_per_write);
    for (std::int32_t i = first; i < last; ++i)
      EncodeTocEntry(build_run.toc[i],
                     copy_buffer.data() + kRecordSize * static_cast<std::size_t>(i - first));
    if (!WriteAll(build_run.archive_file, copy_buffer.data(),
                  kRecordSize * static_cast<std::size_t>(last - first)))
      ArchiveWriteError();
  }
}

namespace {

// Whether the first `size` bytes of two files are the same.
bool SameBytes(FileHandle a, FileHandle b, std::int64_t size) {
  constexpr std::int64_t kPiece = 64 << 10;
  std::vector<std::uint8_t> first(kPiece);
  std::vector<std::uint8_t> second(kPiece);
  for (std::int64_t at = 0; at < size; at += kPiece) {
    const auto piece = static_cast<std::size_t>(std::min(kPiece, size - at));
    const auto want = static_cast<std::int64_t>(piece);
    if (ReadFullAt(a, first.data(), piece, at) != want ||
        ReadFullAt(b, second.data(), piece, at) != want ||
        std::memcmp(first.data(), second.data(), piece) != 0)
      return false;
  }
  return true;
}

// Whether the archive written holds exactly the bytes of the one it
// replaces (-u with nothing changed), which is still as checked and still
// at the target: its members' bytes were copied from there, each from its
// own offset, so only the header and table are compared.
bool SameAsOldArchive() {
  const FileStatus& old = build_run.old_status;
  FileStatus now;
  FileStatus at_target;
  return build_run.old_archive != kNoFile && DataMirrorsOldArchive(old.size) &&
         StatusOf(build_run.old_archive, now) && SameFileState(old, now) &&
         StatusOfPath(build_run.archive_target, at_target) && SameFileState(old, at_target) &&
         SameBytes(build_run.archive_file, build_run.old_archive, DataStart());
}

}  // namespace

bool CommitArchive() {
  build_run.archive_open = false;
  const bool same = SameAsOldArchive();
  // A signal that came before the commit cancels it: it ends the run, as
  // the block ends, with the old archive in place and untouched. One that
  // comes after it no longer does.
  CleanupSignalBlock block;
  if (CleanupSignalPending()) return false;
  // An update that changed nothing keeps the old file, marked modified now:
  // writing the same bytes anew would cost the freeing of the old ones. The
  // new file is then not needed, whether or not it closed cleanly.
  const bool keep = same && KeepInsteadOf(build_run.old_archive, build_run.archive_file);
  if (build_run.old_archive != kNoFile) CloseFile(build_run.old_archive);
  build_run.old_archive = kNoFile;
  const bool closed = CloseFile(build_run.archive_file);
  if (!(keep && RemoveFile(build_run.archive_temp)) &&
      !(closed && RenameFile(build_run.archive_temp, build_run.archive_target)))
    return false;
  build_run.archive_temp_live = 0;
  build_run.committed = 1;
  return true;
}

void ArchiveWriteError() {
  Print("Unable to write quiver %s\n", build_run.dest_name);
  FatalExit(kExitFailure);
}

}  // namespace quiver
