// Where the decoder takes its input and leaves its output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform.h"

namespace quiver {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The next piece of input; empty at its end or after a read error.
  virtual std::span<const std::uint8_t> NextChunk() = 0;
  // Whether a read error ended the input.
  virtual bool failed() const { return false; }
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // False when the bytes could not all be taken.
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
};

// A stream that lies whole in memory.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> data) : data_(data) {}
  std::span<const std::uint8_t> NextChunk() override {
    auto chunk = data_;
    data_ = {};
    return chunk;
  }

 private:
  std::span<const std::uint8_t> data_;
};

// `length` bytes of a file from `offset` on, read in blocks.
class FileRangeSource : public ByteSource {
 public:
  FileRangeSource(FileHandle file, std::int64_t offset, std::int64_t length)
      : file_(file), offset_(offset), remaining_(length) {}
  std::span<const std::uint8_t> NextChunk() override;
  bool failed() const override { return failed_; }

 private:
  FileHandle file_;
  std::int64_t offset_;
  std::int64_t remaining_;
  bool failed_ = false;
  std::uint8_t buffer_[1 << 16];
};

// Positioned reads of bytes that are neither a file nor in memory: an
// archive that a program keeps in a package or cache of its own. May be
// called from several threads at once.
class PositionalReader {
 public:
  virtual ~PositionalReader() = default;
  // Up to `size` bytes at `offset`: how many were read (fewer only at the
  // end), or -1 on a read error.
  virtual std::int64_t ReadAt(std::uint8_t* out, std::size_t size, std::int64_t offset) = 0;
};

// All `size` bytes at `offset`, or false.
bool ReadExactlyAt(PositionalReader& reader, std::uint8_t* out, std::size_t size,
                   std::int64_t offset);

// `length` bytes from `offset` on, read through `reader` in blocks.
class ReaderRangeSource : public ByteSource {
 public:
  ReaderRangeSource(PositionalReader& reader, std::int64_t offset, std::int64_t length)
      : reader_(reader), offset_(offset), remaining_(length) {}
  std::span<const std::uint8_t> NextChunk() override;
  bool failed() const override { return failed_; }

 private:
  PositionalReader& reader_;
  std::int64_t offset_;
  std::int64_t remaining_;
  bool failed_ = false;
  std::uint8_t buffer_[1 << 16];
};

}  // namespace quiver
