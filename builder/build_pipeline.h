// From the filled member list to the finished archive: measure, place, sort,
// write the header and table, copy the members' bytes.
#pragma once

#include <cstdint>

#include "archive_layout.h"

namespace quiver {

int CompareCrc(const TocEntry& a, const TocEntry& b);
int CompareNames(const TocEntry& a, const TocEntry& b);

// Orders every run of equal keys by name, printing one line per collision.
void CheckCollisions(TocEntry* toc, int count);

void MeasureMembers();
void AssignOffsets();
void SortTable();
// Both move their bytes through the one copy buffer of kCopyBufferSize bytes.
void WriteHeaderAndTable(std::uint8_t* copy_buffer);
void CopyMembers(std::uint8_t* copy_buffer);

// Reports a failed write to the unfinished archive and ends the run.
[[noreturn]] void ArchiveWriteError();

}  // namespace quiver
