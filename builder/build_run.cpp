#include "build_run.h"

namespace quiver {

BuildRun build_run;

}  // namespace quiver
