#include "file_io.h"

#include <unistd.h>

#include <cerrno>

namespace quiver {

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

}  // namespace quiver
