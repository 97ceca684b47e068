#include "build_pipeline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <vector>

#include "build_run.h"
#include "compression_stage.h"
#include "file_io.h"
#include "member_path.h"
#include "name_crc.h"

namespace quiver {
namespace {

unsigned char FoldCase(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// Whether a member could be opened for reading, and is a regular file,
// asked without opening it: measuring thousands of members costs two calls
// each instead of three, and a device or FIFO is never touched.
bool CanOpenRegularFile(const char* path, struct stat& st) {
  return ::stat(path, &st) == 0 && S_ISREG(st.st_mode) &&
         ::faccessat(AT_FDCWD, path, R_OK, AT_EACCESS) == 0;
}

std::int64_t StoredSize(const StageEntry& entry) {
  if (!build_run.compress) return entry.original_length;
  if (build_run.smallest && entry.compressed_length == 0) return entry.original_length;
  return entry.compressed_length;
}

}  // namespace

int CompareCrc(const TocEntry& a, const TocEntry& b) {
  if (a.crc < b.crc) return -1;
  return a.crc == b.crc ? 0 : 1;
}

int CompareNames(const TocEntry& a, const TocEntry& b) {
  for (std::size_t i = 0; i < kNameSize; ++i) {
    unsigned char x = FoldCase(a.name[i]);
    unsigned char y = FoldCase(b.name[i]);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}

void CheckCollisions(TocEntry* toc, int count) {
  int i = 0;
  while (i < count - 1) {
    int m = i;
    while (m + 1 < count && toc[m + 1].crc == toc[i].crc) ++m;
    if (m == i) {
      ++i;
      continue;
    }
    for (int j = i + 1; j <= m; ++j)
      std::printf("CRC collision - %s and %s - CRC = %x.\n", toc[i].name, toc[j].name, toc[i].crc);
    // Stable, so names equal but for case keep the response file's order and
    // the same input always gives the same archive.
    std::stable_sort(toc + i, toc + m + 1,
                     [](const TocEntry& a, const TocEntry& b) { return CompareNames(a, b) < 0; });
    i = m + 1;
  }
}

void RecordMember(std::int32_t i, bool opened, std::int64_t size) {
  TocEntry& entry = build_run.toc[i];
  StageEntry& stage = build_run.stage[i];
  entry.crc = NameCrc(entry.name);
  if (!opened) {
    std::printf("Unable to open %s\n", entry.name);
    FatalExit(kExitFailure);
  }
  if (size == 0) {
    std::printf("Filelength on %s == %i\n", entry.name, 0);
    FatalExit(kExitFailure);
  }
  if (size > kMaxArchiveSize) {
    std::printf("%s is too large for a quiver (2 GiB or more)\n", entry.name);
    FatalExit(kExitFailure);
  }
  entry.original_length = static_cast<std::int32_t>(size);
  stage.original_length = entry.original_length;
  if (!build_run.compress) {
    std::printf("%s logged - %x %i\n", entry.name, entry.crc, entry.original_length);
    entry.compressed_length = 0;
    stage.compressed_length = 0;
  }
  build_run.original_total += entry.original_length;
}

void MeasureMembers() {
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    struct stat st;
    bool opened = CanOpenRegularFile(MapMemberPath(build_run.toc[i].name).c_str(), st);
    RecordMember(i, opened, opened ? st.st_size : 0);
  }
}

void AssignOffsets() {
  std::int64_t offset = static_cast<std::int64_t>(kHeaderSize) +
                        static_cast<std::int64_t>(kRecordSize) * build_run.count;
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    if (offset > kMaxArchiveSize) break;
    build_run.toc[i].data_offset = static_cast<std::int32_t>(offset);
    offset += StoredSize(build_run.stage[i]);
  }
  if (offset > kMaxArchiveSize) {
    std::printf("Quiver %s would be 2 GiB or larger\n", build_run.dest_name);
    FatalExit(kExitFailure);
  }
}

void SortTable() {
  TocEntry* toc = build_run.toc.get();
  // Data offsets rise in response-file order (no member is empty), so ties
  // broken on them keep that order, as a stable sort would, without its
  // table-sized buffer.
  std::sort(toc, toc + build_run.count, [](const TocEntry& a, const TocEntry& b) {
    int by_key = CompareCrc(a, b);
    return by_key != 0 ? by_key < 0 : a.data_offset < b.data_offset;
  });
  CheckCollisions(toc, build_run.count);
}

void ReportCopy(const char* source_path, std::int64_t size, std::int32_t to_go) {
  std::printf("Copying file %s of %" PRId64 " bytes | %i to go\n", source_path, size, to_go);
}

void ArchiveWriteError() {
  std::printf("Unable to write quiver %s\n", build_run.dest_name);
  FatalExit(kExitFailure);
}

void CopyReadError(const char* shown) {
  std::printf("Unable to read %s in copying stage\n", shown);
  FatalExit(kExitFailure);
}

void WriteHeaderAndTable(std::uint8_t* copy_buffer) {
  if (::lseek(build_run.archive_file, 0, SEEK_SET) != 0) ArchiveWriteError();
  ArchiveHeader header;
  header.count = build_run.count;
  header.compressed = build_run.compress ? 1 : 0;
  std::uint8_t header_bytes[kHeaderSize];
  EncodeHeader(header, header_bytes);
  if (!WriteAll(build_run.archive_file, header_bytes, kHeaderSize)) ArchiveWriteError();
  // Through the copy buffer, a buffer's worth of records per write, so the
  // table's image never stands whole in memory beside the table itself.
  constexpr std::int32_t kRecordsPerWrite = kCopyBufferSize / kRecordSize;
  for (std::int32_t first = 0; first < build_run.count; first += kRecordsPerWrite) {
    std::int32_t last = std::min(build_run.count, first + kRecordsPerWrite);
    for (std::int32_t i = first; i < last; ++i)
      EncodeTocEntry(build_run.toc[i],
                     copy_buffer + kRecordSize * static_cast<std::size_t>(i - first));
    if (!WriteAll(build_run.archive_file, copy_buffer,
                  kRecordSize * static_cast<std::size_t>(last - first)))
      ArchiveWriteError();
  }
}

void CopyMembers(std::uint8_t* copy_buffer) {
  std::int32_t to_go = build_run.count;
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    const StageEntry& stage = build_run.stage[i];
    const CopySource source = ChooseCopySource(stage);
    struct stat st;
    int fd = OpenRegularFile(source.path.c_str(), st);
    if (fd < 0) {
      std::printf("Unable to open %s\n", source.shown);
      FatalExit(kExitFailure);
    }
    if (st.st_size != source.expected) {
      std::printf("Length match error in copying stage - file %s", stage.source_path);
      FatalExit(kExitFailure);
    }
    --to_go;
    ReportCopy(stage.source_path, source.expected, to_go);
    switch (
        CopyRange(fd, -1, build_run.archive_file, source.expected, copy_buffer, kCopyBufferSize)) {
      case CopyResult::kOk:
        break;
      case CopyResult::kShortSource:
      case CopyResult::kReadError:
        CopyReadError(source.shown);
      case CopyResult::kWriteError:
        ArchiveWriteError();
    }
    ::close(fd);
  }
}

}  // namespace quiver
