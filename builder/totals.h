// The totals both kinds of build print at the end.
#pragma once

#include <cstdint>

namespace quiver {

// 100 minus the compressed share in percent, rounded as integer division;
// 0 for nothing.
std::int64_t CompressionRatio(std::int64_t compressed, std::int64_t original);

void ReportTotals();

}  // namespace quiver
