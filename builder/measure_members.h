// Measuring the members: each one's key and length, before any byte of it
// is read.
#pragma once

#include <cstdint>

#include "platform.h"

namespace quiver {

// Records member i's key, length and file state once it is known whether
// its file opens and, if so, its status; ends the run on a member that cannot be
// opened, is empty or is too large. Prints the line of a stored member.
void RecordMember(std::int32_t i, bool opened, const FileStatus& status);

// Measures every member of a compressed build, before the compression stage.
void MeasureMembers();

}  // namespace quiver
