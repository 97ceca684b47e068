// Bits to a file, most significant first; the last byte is padded with zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

namespace quiver {

class BitFile {
 public:
  // Creates or truncates the file. A failure, here or in any later write,
  // ends the run through ReportError.
  explicit BitFile(const char* path);
  // Writes into the new, empty file `file`, which stays open and the
  // caller's. A failure is kept instead, in failure(), and nothing more is
  // written.
  explicit BitFile(FileHandle file);
  // Appends to `memory`, which never fails.
  explicit BitFile(std::vector<std::uint8_t>& memory);
  // Finish, if not done yet.
  ~BitFile();
  BitFile(const BitFile&) = delete;
  BitFile& operator=(const BitFile&) = delete;

  // Both inline: the coder calls them for every token.
  void OutputBit(std::int32_t bit) {
    accumulator_ = (accumulator_ << 1) | (bit != 0 ? 1u : 0u);
    if (++pending_ == 8) {
      pending_ = 0;
      PutByte(static_cast<std::uint8_t>(accumulator_), "Fatal error in OutputBit!\n");
      accumulator_ = 0;
    }
  }
  // Appends the low `count` bits of `code` (1 to 32), most significant first.
  void OutputBits(std::uint32_t code, int count) {
    std::uint64_t field = code & (count == 32 ? 0xFFFFFFFFu : (1u << count) - 1);
    accumulator_ = (accumulator_ << count) | field;
    pending_ += count;
    while (pending_ >= 8) {
      pending_ -= 8;
      PutByte(static_cast<std::uint8_t>(accumulator_ >> pending_), "Fatal error in OutputBits!\n");
    }
    accumulator_ &= (1u << pending_) - 1;
  }

  // Writes the waiting bits as a last byte and closes the file it opened.
  void Finish();
  // The message of the first failure, empty when there was none.
  const std::string& failure() const { return failure_; }
  // The finished file's length, or -1 when it could not be taken.
  std::int64_t file_length() const { return file_length_; }
  // After Finish: the whole stream when it fitted the buffer, so that it
  // need not be read back; else empty.
  const std::uint8_t* whole_stream() const { return whole_ ? buffer_ : nullptr; }
  std::size_t whole_size() const { return whole_ ? whole_size_ : 0; }

 private:
  void PutByte(std::uint8_t byte, const char* message) {
    buffer_[fill_++] = byte;
    if (fill_ == sizeof buffer_) Flush(message);
  }
  void Flush(const char* message);
  void Fail(const char* message);

  bool report_failures_;  // and owns the file
  bool finished_ = false;
  bool flushed_ = false;
  bool whole_ = false;
  std::size_t whole_size_ = 0;
  std::string failure_;
  std::int64_t file_length_ = -1;
  FileHandle stream_ = kNoFile;
  std::vector<std::uint8_t>* memory_ = nullptr;
  // Bits waiting to make a byte, in the low `pending_` places.
  std::uint64_t accumulator_ = 0;
  int pending_ = 0;
  std::size_t fill_ = 0;
  std::uint8_t buffer_[1 << 16];
};

}  // namespace quiver
