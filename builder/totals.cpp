#include "totals.h"

#include <cinttypes>
#include <cstdio>

#include "build_run.h"

namespace quiver {

std::int64_t CompressionRatio(std::int64_t compressed, std::int64_t original) {
  if (original == 0) return 0;
  return 100 - compressed * 100 / original;
}

void ReportTotals() {
  if (!build_run.compress) {
    std::printf("\nTotal Data Size = %" PRId64 "\n\n", build_run.original_total);
    return;
  }
  std::printf("\n");
  std::printf("Totals - Original Size   = %" PRId64 "\n", build_run.original_total);
  std::printf("         Compressed Size = %" PRId64 "\n", build_run.compressed_total);
  std::printf("         Ratio           = %" PRId64 "%%\n\n",
              CompressionRatio(build_run.compressed_total, build_run.original_total));
}

}  // namespace quiver
