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

// Records member i's key and length once it is known whether its file opens
// and how many bytes it holds; ends the run on a member that cannot be
// opened, is empty or is too large. Prints the line of a stored member.
void RecordMember(std::int32_t i, bool opened, std::int64_t size);

// Measures every member of a compressed build, before the compression stage.
void MeasureMembers();
void AssignOffsets();
void SortTable();
// Both move their bytes through the one copy buffer of kCopyBufferSize bytes.
// The header and table go to the start of the archive, after which the
// compressed build's copy stage appends the members.
void WriteHeaderAndTable(std::uint8_t* copy_buffer);
void CopyMembers(std::uint8_t* copy_buffer);

// The copy stage's progress line for one member.
void ReportCopy(const char* source_path, std::int64_t size, std::int32_t to_go);

// Reports a failed write to the unfinished archive and ends the run.
[[noreturn]] void ArchiveWriteError();
// Reports a member file that could not be read in full and ends the run.
[[noreturn]] void CopyReadError(const char* shown);

}  // namespace quiver
