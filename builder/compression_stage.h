// The builder's -c and -s: every member compressed into a temporary file
// beside it, and under -s stored raw when compression does not shrink it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quiver {

// Measures every member, then compresses each, records its stored form and
// copies it into the archive.
void CompressMembers(std::vector<std::uint8_t>& copy_buffer);

// Members are compressed side by side on the run's worker pool, short ones
// several to a task, read or opened ahead of the oldest one not yet
// reported up to this many bytes of members: far enough that while that
// one, a long one, is still being compressed, the workers go on with the
// members after it.
inline constexpr std::int64_t kBytesReadAhead = 2 << 20;

// After the copy stage: the temporary files go. One that stays is named,
// and fails the run.
void DeleteTemporaryFiles();

}  // namespace quiver
