#include "file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quiver {

int OpenRegularFile(const char* path, struct stat& st) {
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

ssize_t ReadFull(int fd, void* data, std::size_t size) {
  auto* p = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

ssize_t ReadFullAt(int fd, void* data, std::size_t size, off_t offset) {
  auto* p = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, p + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

CopyResult CopyRange(int in, off_t in_offset, int out, std::int64_t size, std::uint8_t* buffer,
                     std::size_t buffer_size) {
  off_t position = in_offset;
  off_t* position_arg = in_offset >= 0 ? &position : nullptr;
  bool kernel_copy = true;
  while (size > 0) {
    if (kernel_copy) {
      ssize_t n =
          ::copy_file_range(in, position_arg, out, nullptr, static_cast<std::size_t>(size), 0);
      if (n > 0) {
        size -= n;
        continue;
      }
      if (n == 0) return CopyResult::kShortSource;
      if (errno == EINTR) continue;
      // Not offered between these two files: copy through the buffer instead.
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
          errno == EBADF) {
        kernel_copy = false;
        continue;
      }
      return errno == EFBIG || errno == ENOSPC || errno == EDQUOT ? CopyResult::kWriteError
                                                                  : CopyResult::kReadError;
    }
    auto chunk = static_cast<std::size_t>(
        std::min<std::int64_t>(size, static_cast<std::int64_t>(buffer_size)));
    ssize_t got = position_arg != nullptr ? ReadFullAt(in, buffer, chunk, position)
                                          : ReadFull(in, buffer, chunk);
    if (got < 0) return CopyResult::kReadError;
    if (static_cast<std::size_t>(got) != chunk) return CopyResult::kShortSource;
    if (!WriteAll(out, buffer, chunk)) return CopyResult::kWriteError;
    position += got;
    size -= got;
  }
  return CopyResult::kOk;
}

}  // namespace quiver
