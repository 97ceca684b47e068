#include "standard_output.h"

#include <cstdio>

namespace quiver {

void LineBufferStandardOutput() {
  std::setvbuf(stdout, nullptr, _IOLBF, 1 << 12);
}

bool StandardOutputFailed() {
  return std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
}

int FinishStandardOutput(int status, const char* program) {
  if (!StandardOutputFailed()) return status;
  std::fprintf(stderr, "%s: unable to write standard output\n", program);
  return status == 0 ? 1 : status;
}

}  // namespace quiver
