// Descriptor reads and writes that retry on interruption and short counts.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace quiver {

// True when all `size` bytes were written.
bool WriteAll(int fd, const void* data, std::size_t size);
// Number of bytes read before end of file, or -1 on a read error.
ssize_t ReadFull(int fd, void* data, std::size_t size);
ssize_t ReadFullAt(int fd, void* data, std::size_t size, off_t offset);

}  // namespace quiver
