// Measuring the members: each one's key and length, before any byte of it
// is read.
#pragma once

#include <cstdint>
#include <vector>

#include "platform.h"

namespace quiver {

// Records member i's key, length and file state once it is known whether
// its file opens and, if so, its status; ends the run on a member that cannot be
// opened, is empty or is too large. Prints the line of a stored member.
void RecordMember(std::int32_t i, bool opened, const FileStatus& status);

class WorkerPool;

// Whether each member's file opens and, if so, its status.
struct Measurements {
  std::vector<FileStatus> statuses;
  std::vector<char> opened;
};

// Measures every member of a compressed build side by side on `pool`,
// before the compression stage; nothing is recorded yet.
Measurements MeasureMembers(WorkerPool& pool);

// Records the measurements in order, ending the run at the first member
// that cannot be used. No pool thread may still run: the run may end here.
void RecordMeasurements(const Measurements& measured);

}  // namespace quiver
