#include "bit_file.h"

#include <string>

#include "exit_paths.h"
#include "platform.h"

namespace quiver {

BitFile::BitFile(const char* path) : report_failures_(true), stream_(CreateOrTruncate(path)) {
  if (stream_ == kNoFile) {
    std::string message = "BitFile::BitFile unable to open temporary file ";
    Fail((message + path + ".").c_str());
  }
}

BitFile::BitFile(FileHandle file) : report_failures_(false), stream_(file) {}

BitFile::~BitFile() {
  Finish();
}

void BitFile::Finish() {
  if (finished_) return;
  finished_ = true;
  const char* message = "Fatal error in ~BitFile!\n";
  if (pending_ > 0) PutByte(static_cast<std::uint8_t>(accumulator_ << (8 - pending_)), message);
  Flush(message);
  // The file's length as the file system has it, taken before the close.
  FileStatus status;
  if (stream_ != kNoFile && StatusOf(stream_, status)) file_length_ = status.size;
  // A failed close can lose bytes already handed over; a short stream must
  // never pass for a good one.
  if (stream_ != kNoFile && !CloseFile(stream_)) Fail(message);
}

void BitFile::Fail(const char* message) {
  if (report_failures_) ReportError("%s", message);
  if (failure_.empty()) failure_ = message;
}

void BitFile::OutputBit(std::int32_t bit) {
  accumulator_ = (accumulator_ << 1) | (bit != 0 ? 1u : 0u);
  if (++pending_ == 8) {
    pending_ = 0;
    PutByte(static_cast<std::uint8_t>(accumulator_), "Fatal error in OutputBit!\n");
    accumulator_ = 0;
  }
}

void BitFile::OutputBits(std::uint32_t code, int count) {
  std::uint64_t field = code & (count == 32 ? 0xFFFFFFFFu : (1u << count) - 1);
  accumulator_ = (accumulator_ << count) | field;
  pending_ += count;
  while (pending_ >= 8) {
    pending_ -= 8;
    PutByte(static_cast<std::uint8_t>(accumulator_ >> pending_), "Fatal error in OutputBits!\n");
  }
  accumulator_ &= (1u << pending_) - 1;
}

void BitFile::PutByte(std::uint8_t byte, const char* message) {
  buffer_[fill_++] = byte;
  if (fill_ == sizeof buffer_) Flush(message);
}

void BitFile::Flush(const char* message) {
  // After a failure nothing more is written; the first failure is the one reported.
  if (fill_ > 0 && failure_.empty() && !WriteAll(stream_, buffer_, fill_)) Fail(message);
  fill_ = 0;
}

}  // namespace quiver
