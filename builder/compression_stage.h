// The builder's -c and -s: every member compressed into a temporary file
// beside it, and under -s stored raw when compression does not shrink it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quiver {

// After measuring: compress every member, record its stored form and copy
// it into the archive.
void CompressMembers(std::vector<std::uint8_t>& copy_buffer);

// Members are compressed side by side on the run's worker pool, at most
// this many opened ahead of the oldest one not yet reported: far enough
// that while that one, a long one, is still being compressed, the workers
// go on with the members after it.
inline constexpr std::size_t kMembersInFlight = 16;

// After the copy stage: the temporary files go. One that stays is named,
// and fails the run.
void DeleteTemporaryFiles();

}  // namespace quiver
