// Bits to a file, most significant first; the last byte is padded with zeros.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quiver {

class BitFile {
 public:
  // Creates or truncates the file; a failure ends the run through ReportError.
  explicit BitFile(const char* path);
  // Writes the waiting bits as a last byte and closes the file.
  ~BitFile();
  BitFile(const BitFile&) = delete;
  BitFile& operator=(const BitFile&) = delete;

  void OutputBit(std::int32_t bit);
  // Appends the low `count` bits of `code` (1 to 32), most significant first.
  void OutputBits(std::uint32_t code, int count);

 private:
  void PutByte(std::uint8_t byte, const char* message);
  void Flush(const char* message);

  int stream_;
  // Bits waiting to make a byte, in the low `pending_` places.
  std::uint64_t accumulator_ = 0;
  int pending_ = 0;
  std::size_t fill_ = 0;
  std::uint8_t buffer_[1 << 16];
};

// Prints "Fatal error: " and the message, removes the run's unfinished files
// and ends the process with status 255.
[[noreturn]] void ReportError(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quiver
