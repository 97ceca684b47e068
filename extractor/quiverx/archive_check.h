// quiverx -t: the whole archive checked as an extraction would check it,
// with nothing written anywhere.
#pragma once

#include "quiver/reader.h"

namespace quiver {

// One line a member, a note when the table is not in key order (which costs
// lookups time, not members), and a summary line; true when every member
// would extract. Members are checked side by side on `threads` threads and
// reported in table order.
bool TestArchive(const Archive& archive, bool quiet, int threads);

}  // namespace quiver
