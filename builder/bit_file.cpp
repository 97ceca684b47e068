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

BitFile::BitFile(std::vector<std::uint8_t>& memory) : report_failures_(false), memory_(&memory) {}

BitFile::~BitFile() {
  Finish();
}

void BitFile::Finish() {
  if (finished_) return;
  finished_ = true;
  const char* message = "Fatal error in ~BitFile!\n";
  if (pending_ > 0) PutByte(static_cast<std::uint8_t>(accumulator_ << (8 - pending_)), message);
  const bool flushed_before = flushed_;
  whole_size_ = fill_;
  Flush(message);
  whole_ = !flushed_before && failure_.empty();
  // The file's length as the file system has it, taken before the close.
  FileStatus status;
  if (stream_ != kNoFile && StatusOf(stream_, status)) file_length_ = status.size;
  // A failed close can lose bytes already handed over; a short stream must
  // never pass for a good one.
  if (report_failures_ && stream_ != kNoFile && !CloseFile(stream_)) Fail(message);
}

void BitFile::Fail(const char* message) {
  if (report_failures_) ReportError("%s", message);
  if (failure_.empty()) failure_ = message;
}

void BitFile::Flush(const char* message) {
  // After a failure nothing more is written; the first failure is the one reported.
  if (memory_ != nullptr)
    memory_->insert(memory_->end(), buffer_, buffer_ + fill_);
  else if (fill_ > 0 && failure_.empty() && !WriteAll(stream_, buffer_, fill_))
    Fail(message);
  fill_ = 0;
  flushed_ = true;
}

}  // namespace quiver
