#include "byte_stream.h"

#include <algorithm>

namespace quiver {

std::span<const std::uint8_t> FileRangeSource::NextChunk() {
  if (remaining_ <= 0 || failed_) return {};
  auto want = static_cast<std::size_t>(
      std::min<std::int64_t>(remaining_, static_cast<std::int64_t>(sizeof buffer_)));
  const std::int64_t got = ReadFullAt(file_, buffer_, want, offset_);
  if (got <= 0) {
    failed_ = true;
    return {};
  }
  offset_ += got;
  remaining_ -= got;
  return {buffer_, static_cast<std::size_t>(got)};
}

}  // namespace quiver
