#include "lzss_encoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include "bit_file.h"
#include "block_encoder.h"
#include "file_io.h"
#include "match_tree.h"
#include "token_output.h"

namespace quiver {
namespace {

// The member's bytes, read in blocks.
class SourceReader {
 public:
  explicit SourceReader(int fd) : fd_(fd) {}
  // Next byte, or -1 at the end of the data.
  int Next() {
    if (next_ == end_ && !Refill()) return -1;
    ++total_;
    return buffer_[next_++];
  }
  bool failed() const { return failed_; }
  std::int64_t total() const { return total_; }

 private:
  bool Refill() {
    // The coder asks on for up to 17 bytes past the end; one read says so.
    if (failed_ || ended_) return false;
    ssize_t n;
    do {
      n = ::read(fd_, buffer_, sizeof buffer_);
    } while (n < 0 && errno == EINTR);
    if (n < 0) failed_ = true;
    if (n == 0) ended_ = true;
    if (n <= 0) return false;
    next_ = 0;
    end_ = static_cast<std::size_t>(n);
    return true;
  }

  int fd_;
  bool failed_ = false;
  bool ended_ = false;
  std::int64_t total_ = 0;
  std::size_t next_ = 0;
  std::size_t end_ = 0;
  std::uint8_t buffer_[1 << 16];
};

// One member's tokens, from the window and tree of `state`.
void EncodeMember(EncoderState& state, SourceReader& source, BitFile& bits) {
  int current = 1;
  int best_length = 0;
  int best_position = 0;
  int look_ahead = 0;
  while (look_ahead < kLookAheadSize) {
    int c = source.Next();
    if (c < 0) break;
    state.StoreByte(current + look_ahead, static_cast<std::uint8_t>(c));
    ++look_ahead;
  }
  state.ResetTree(current);
  while (look_ahead > 0) {
    if (best_length > look_ahead) best_length = look_ahead;
    const int steps = OutputToken(bits, best_length, best_position, state.window[current]);
    for (int i = 0; i < steps; ++i) {
      int incoming = (current + kLookAheadSize) & kPositionMask;
      state.RemovePosition(incoming);
      int c = source.Next();
      if (c < 0)
        --look_ahead;
      else
        state.StoreByte(incoming, static_cast<std::uint8_t>(c));
      current = (current + 1) & kPositionMask;
      if (look_ahead != 0) best_length = state.InsertPosition(current, best_position);
    }
  }
  state.ClearEntries();
  OutputEndToken(bits);
}

EncoderState process_state;

// How a member is coded: in one pass, or in blocks of block_size bytes on
// `workers` threads.
struct Coding {
  std::int64_t block_size;
  int workers;
};

Coding ChooseCoding(std::int64_t expected_length) {
  // Asked once: each asking reads a file, which thousands of small members
  // would pay for.
  static const unsigned cores = std::thread::hardware_concurrency();
  if (expected_length >= kBlockThreshold && cores >= 2) return {kBlockSize, 2};
  return {0, 1};
}

// Codes the source open at `fd` into `bits`, then closes both.
CompressOutcome Encode(EncoderState& state, int fd, std::unique_ptr<BitFile> bits,
                       std::int64_t expected_length, Coding coding) {
  CompressStatus status = CompressStatus::kOk;
  if (coding.block_size > 0) {
    if (bits->failure().empty()) {
      EncoderWindow window;
      std::memcpy(window.bytes, state.window, kWindowSize);
      status =
          EncodeInBlocks(fd, expected_length, window, *bits, coding.block_size, coding.workers);
      state.SetWindow(window);
    }
  } else {
    auto source = std::make_unique<SourceReader>(fd);
    if (bits->failure().empty()) EncodeMember(state, *source, *bits);
    if (source->failed())
      status = CompressStatus::kSourceUnreadable;
    else if (expected_length >= 0 && source->total() != expected_length)
      status = CompressStatus::kSourceChanged;
  }
  bits->Finish();
  ::close(fd);
  if (!bits->failure().empty()) return {CompressStatus::kWriteFailed, 0, bits->failure()};
  if (status != CompressStatus::kOk) return {status, 0, {}};
  const std::int64_t length = bits->file_length();
  if (length < 0 || length > 0x7FFFFFFF) return {CompressStatus::kTempUnreadable, 0, {}};
  return {CompressStatus::kOk, static_cast<std::int32_t>(length), {}};
}

}  // namespace

CompressOutcome CompressOpenMember(int source_fd, int temp_fd, std::int64_t expected_length) {
  return Encode(process_state, source_fd, std::make_unique<BitFile>(temp_fd), expected_length,
                ChooseCoding(expected_length));
}

void ResetEncoderWindow() {
  process_state.SetWindow(EncoderWindow{});
}

CompressOutcome CompressMember(const char* source_path, const char* temp_path,
                               std::int64_t expected_length) {
  struct stat st;
  int fd = OpenRegularFile(source_path, st);
  if (fd < 0) return {CompressStatus::kSourceUnreadable, 0, {}};
  return Encode(process_state, fd, std::make_unique<BitFile>(temp_path), expected_length,
                ChooseCoding(expected_length));
}

void AdvanceWindow(EncoderWindow& window, const std::uint8_t* tail, std::size_t tail_size,
                   std::int64_t length) {
  // Byte k of a member lands at position (k + 1) mod 4096.
  std::int64_t first = length - static_cast<std::int64_t>(tail_size);
  for (std::size_t i = 0; i < tail_size; ++i)
    window.bytes[(first + static_cast<std::int64_t>(i) + 1) & kPositionMask] = tail[i];
}

CompressOutcome CompressMemberFrom(EncoderState& state, const EncoderWindow& start, int source_fd,
                                   int temp_fd, std::int64_t expected_length) {
  state.SetWindow(start);
  return Encode(state, source_fd, std::make_unique<BitFile>(temp_fd), expected_length,
                ChooseCoding(expected_length));
}

CompressOutcome CompressMemberInBlocks(EncoderState& state, const EncoderWindow& start,
                                       int source_fd, int temp_fd, std::int64_t expected_length,
                                       std::int64_t block_size, int workers) {
  state.SetWindow(start);
  return Encode(state, source_fd, std::make_unique<BitFile>(temp_fd), expected_length,
                {block_size, workers});
}

}  // namespace quiver
