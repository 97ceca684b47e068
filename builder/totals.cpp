#include "totals.h"

#include <cinttypes>

#include "build_run.h"
#include "progress.h"

namespace quiver {

std::int64_t CompressionRatio(std::int64_t compressed, std::int64_t original) {
  if (original == 0) return 0;
  return 100 - compressed * 100 / original;
}

void ReportTotals() {
  if (!build_run.compress) {
    Progress("\nTotal Data Size = %" PRId64 "\n\n", build_run.original_total);
    return;
  }
  Progress("\n");
  Progress("Totals - Original Size   = %" PRId64 "\n", build_run.original_total);
  Progress("         Compressed Size = %" PRId64 "\n", build_run.compressed_total);
  Progress("         Ratio           = %" PRId64 "%%\n\n",
           CompressionRatio(build_run.compressed_total, build_run.original_total));
}

}  // namespace quiver
