// The table of contents: data offsets in response-file order, then the
// records sorted by key, collisions reported and ordered by name.
#pragma once

#include "archive_layout.h"

namespace quiver {

int CompareCrc(const TocEntry& a, const TocEntry& b);
int CompareNames(const TocEntry& a, const TocEntry& b);

// Orders every run of equal keys by name, printing one line per collision.
void CheckCollisions(TocEntry* toc, int count);

// Gives every member its place behind the table; ends the run when the
// archive would not fit its 32-bit fields.
void AssignOffsets();
void SortTable();

}  // namespace quiver
