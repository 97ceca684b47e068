// The builder's -c and -s: every member compressed into a temporary file
// beside it, and under -s stored raw when compression does not shrink it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "build_run.h"

namespace quiver {

// 100 minus the compressed share in percent, rounded as integer division.
std::int64_t CompressionRatio(std::int64_t compressed, std::int64_t original);

// After measuring: compress every member and record its stored form.
void CompressMembers();

// With two cores, members are compressed side by side, at most this many
// opened ahead of the oldest one not yet reported: far enough that while
// that one, a long one, is still being compressed, the workers go on with
// the members after it.
inline constexpr std::size_t kMembersInFlight = 16;

// In the copy stage: the file holding a member's stored bytes and its size.
struct CopySource {
  std::string path;
  const char* shown;  // in messages: the member's name as written, or the temporary path
  std::int64_t expected;
};
CopySource ChooseCopySource(const StageEntry& stage);

// After copying: the totals, then the temporary files go.
void ReportTotals();

}  // namespace quiver
