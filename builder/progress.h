// Progress lines: what the build has done so far. Failures are printed
// whatever -q says; these only without it.
#pragma once

namespace quiver {

void Progress(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quiver
