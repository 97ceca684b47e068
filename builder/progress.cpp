#include "progress.h"

#include <cstdarg>
#include <cstdio>

#include "build_run.h"

namespace quiver {

void Progress(const char* format, ...) {
  if (build_run.quiet) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

}  // namespace quiver
