#include "lzss_encoder.h"

#include <memory>

#include "bit_file.h"
#include "block_encoder.h"
#include "match_tree.h"
#include "thread_scratch.h"
#include "token_loop.h"
#include "worker_pool.h"

namespace quiver {
namespace {

// The member's bytes, read in blocks.
class SourceReader {
 public:
  explicit SourceReader(FileHandle file) : file_(file) {}
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
    const std::int64_t n = ReadFull(file_, buffer_, sizeof buffer_);
    if (n < 0) failed_ = true;
    if (n == 0) ended_ = true;
    if (n <= 0) return false;
    next_ = 0;
    end_ = static_cast<std::size_t>(n);
    return true;
  }

  FileHandle file_;
  bool failed_ = false;
  bool ended_ = false;
  std::int64_t total_ = 0;
  std::size_t next_ = 0;
  std::size_t end_ = 0;
  std::uint8_t buffer_[1 << 16];
};

// The one-pass coder: the tree itself decides every match.
class TreeMatcher {
 public:
  TreeMatcher(EncoderState& state, SourceReader& source) : state_(state), source_(source) {}
  std::uint8_t Literal(int current) const { return state_.window[current]; }
  int Advance(int current) {
    const int incoming = (current + kLookAheadSize) & kPositionMask;
    state_.RemovePosition(incoming);
    const int c = source_.Next();
    if (c < 0) return 0;
    state_.StoreByte(incoming, static_cast<std::uint8_t>(c));
    return 1;
  }
  int Insert(int n, int& best_position) { return state_.InsertPosition(n, best_position); }

 private:
  EncoderState& state_;
  SourceReader& source_;
};

void EncodeMember(EncoderState& state, SourceReader& source, BitFile& bits) {
  int look_ahead = 0;
  for (int c; look_ahead < kLookAheadSize && (c = source.Next()) >= 0; ++look_ahead)
    state.StoreByte(1 + look_ahead, static_cast<std::uint8_t>(c));
  state.ResetTree(1);
  TreeMatcher matcher(state, source);
  EncodeTokens(matcher, bits, look_ahead);
  state.ClearEntries();
}

CompressStatus EncodeInOnePass(const EncoderWindow& start, FileHandle source,
                               std::int64_t expected_length, BitFile& bits) {
  auto reader = std::make_unique<SourceReader>(source);
  EncoderState& state = ThreadEncoderState();
  state.SetWindow(start);
  EncodeMember(state, *reader, bits);
  if (reader->failed()) return CompressStatus::kSourceUnreadable;
  if (reader->total() != expected_length) return CompressStatus::kSourceChanged;
  return CompressStatus::kOk;
}

}  // namespace

void AdvanceWindow(EncoderWindow& window, const std::uint8_t* tail, std::size_t tail_size,
                   std::int64_t length) {
  const std::int64_t first = length - static_cast<std::int64_t>(tail_size);
  for (std::size_t i = 0; i < tail_size; ++i)
    window.bytes[PositionOfOffset(first + static_cast<std::int64_t>(i))] = tail[i];
}

CompressOutcome CompressMember(const EncoderWindow& start, FileHandle source, FileHandle temp,
                               std::int64_t expected_length, WorkerPool& pool,
                               std::int64_t block_size) {
  auto bits = std::make_unique<BitFile>(temp);
  // The member must be the same file, unchanged, once all of it is read.
  FileStatus before;
  const bool known = StatusOf(source, before);
  const bool in_blocks = expected_length >= kBlocksAtLeast * block_size;
  CompressStatus status = CompressStatus::kOk;
  if (bits->failure().empty())
    status = in_blocks ? EncodeInBlocks(source, expected_length, *bits, block_size, pool)
                       : EncodeInOnePass(start, source, expected_length, *bits);
  FileStatus after;
  if (status == CompressStatus::kOk &&
      (!known || !StatusOf(source, after) || !SameFileState(before, after)))
    status = CompressStatus::kSourceModified;
  bits->Finish();
  CloseFile(source);
  if (!bits->failure().empty()) return {CompressStatus::kWriteFailed, 0, bits->failure(), {}};
  if (status != CompressStatus::kOk) return {status, 0, {}, {}};
  const std::int64_t length = bits->file_length();
  if (length < 0 || length > 0x7FFFFFFF) return {CompressStatus::kTempUnreadable, 0, {}, {}};
  CompressOutcome outcome{CompressStatus::kOk, static_cast<std::int32_t>(length), {}, {}};
  if (bits->whole_size() == static_cast<std::size_t>(length))
    outcome.stream.assign(bits->whole_stream(), bits->whole_stream() + length);
  return outcome;
}

}  // namespace quiver
