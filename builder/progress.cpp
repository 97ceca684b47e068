#include "progress.h"

#include <cstdarg>

#include "build_run.h"
#include "standard_output.h"

namespace quiver {

void Progress(const char* format, ...) {
  if (build_run.quiet) return;
  va_list args;
  va_start(args, format);
  PrintList(format, args);
  va_end(args);
}

}  // namespace quiver
