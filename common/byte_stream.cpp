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

bool ReadExactlyAt(PositionalReader& reader, std::uint8_t* out, std::size_t size,
                   std::int64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t got =
        reader.ReadAt(out + done, size - done, offset + static_cast<std::int64_t>(done));
    // More than was asked for is as wrong as a failure.
    if (got <= 0 || static_cast<std::uint64_t>(got) > size - done) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

std::span<const std::uint8_t> ReaderRangeSource::NextChunk() {
  if (remaining_ <= 0 || failed_) return {};
  auto want = static_cast<std::size_t>(
      std::min<std::int64_t>(remaining_, static_cast<std::int64_t>(sizeof buffer_)));
  if (!ReadExactlyAt(reader_, buffer_, want, offset_)) {
    failed_ = true;
    return {};
  }
  offset_ += static_cast<std::int64_t>(want);
  remaining_ -= static_cast<std::int64_t>(want);
  return {buffer_, want};
}

}  // namespace quiver
