#include "toc_table.h"

#include <algorithm>

#include "build_run.h"
#include "exit_paths.h"
#include "progress.h"
#include "standard_output.h"

namespace quiver {
namespace {

unsigned char FoldCase(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
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
      Progress("CRC collision - %s and %s - CRC = %x.\n", toc[i].name, toc[j].name, toc[i].crc);
    // Stable, so names equal but for case keep the response file's order and
    // the same input always gives the same archive.
    std::stable_sort(toc + i, toc + m + 1,
                     [](const TocEntry& a, const TocEntry& b) { return CompareNames(a, b) < 0; });
    i = m + 1;
  }
}

void AssignOffsets() {
  std::int64_t offset = DataStart();
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    if (offset > kMaxArchiveSize) break;
    build_run.toc[i].data_offset = static_cast<std::int32_t>(offset);
    build_run.toc[i].compressed_length = build_run.stage[i].compressed_length;
    offset += StoredLength(build_run.stage[i]);
  }
  if (offset > kMaxArchiveSize) {
    Print("Quiver %s would be 2 GiB or larger\n", build_run.dest_name);
    FatalExit(kExitFailure);
  }
}

void SortTable() {
  TocEntry* toc = build_run.toc.data();
  // Data offsets rise in response-file order (no member is empty), so ties
  // broken on them keep that order, as a stable sort would, without its
  // table-sized buffer.
  std::sort(toc, toc + build_run.count, [](const TocEntry& a, const TocEntry& b) {
    int by_key = CompareCrc(a, b);
    return by_key != 0 ? by_key < 0 : a.data_offset < b.data_offset;
  });
  CheckCollisions(toc, build_run.count);
}

}  // namespace quiver
