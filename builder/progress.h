// Progress lines: what the build has done so far. Failures are printed
// whatever -q says; these only without it.
#pragma once

#include "standard_output.h"

namespace quiver {

void Progress(const char* format, ...) QUIVER_PRINTF(1, 2);

}  // namespace quiver
