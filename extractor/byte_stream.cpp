#include "byte_stream.h"

#include <algorithm>

#include "file_io.h"

namespace quiver {

std::span<const std::uint8_t> FileRangeSource::NextChunk() {
  if (remaining_ <= 0 || failed_) return {};
  auto want = static_cast<std::size_t>(
      std::min<std::int64_t>(remaining_, static_cast<std::int64_t>(sizeof buffer_)));
  ssize_t got = ReadFullAt(fd_, buffer_, want, static_cast<off_t>(offset_));
  if (got <= 0) {
    failed_ = true;
    return {};
  }
  offset_ += got;
  remaining_ -= got;
  return {buffer_, static_cast<std::size_t>(got)};
}

bool FdSink::Write(const std::uint8_t* data, std::size_t size) {
  return WriteAll(fd_, data, size);
}

}  // namespace quiver
