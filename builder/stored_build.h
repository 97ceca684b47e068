// A build without compression takes each member once: measured and copied
// into place behind the table in one pass, with the header and the table
// written in front at the end. The console shows the same lines in the same
// order as a build that measures every member before copying any.
#pragma once

#include <cstdint>
#include <vector>

namespace quiver {

// Measures every member and copies its bytes to its place in the archive. A
// failed copy is held back until its progress line is due.
void MeasureAndCopyMembers(std::vector<std::uint8_t>& copy_buffer);

// After the table is written: the progress line of every copy, and the
// failure of the one that failed, if any.
void ReportStoredCopies();

}  // namespace quiver
