// Descriptor reads and writes that retry on interruption and short counts.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace quiver {

// Opens a file for reading without blocking on a FIFO; -1 unless it is a
// regular file, whose status is then in `st`.
int OpenRegularFile(const char* path, struct stat& st);

// True when all `size` bytes were written.
bool WriteAll(int fd, const void* data, std::size_t size);
// Number of bytes read before end of file, or -1 on a read error.
ssize_t ReadFull(int fd, void* data, std::size_t size);
ssize_t ReadFullAt(int fd, void* data, std::size_t size, off_t offset);

enum class CopyResult { kOk, kShortSource, kReadError, kWriteError };

// Copies `size` bytes from `in` (at `in_offset`, or at its file position
// when that is negative) to the file position of `out`, inside the kernel
// where it can, through `buffer` where it cannot.
CopyResult CopyRange(int in, off_t in_offset, int out, std::int64_t size, std::uint8_t* buffer,
                     std::size_t buffer_size);

}  // namespace quiver
