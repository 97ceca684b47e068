#include "block_encoder.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "build_run.h"
#include "file_io.h"
#include "match_tree.h"
#include "token_output.h"
#include "tree_replay.h"

namespace quiver {
namespace {

// Strings the tree holds when a step starts: those of the 4079 bytes before
// it, and the string about to be filed.
constexpr std::int64_t kTreeSpan = kWindowSize - kLookAheadSize;

int PositionOf(std::int64_t offset) {
  return static_cast<int>((offset + 1) & kPositionMask);
}

struct Block {
  std::int64_t index = -1;
  std::int64_t first = 0;  // member offset of bytes[0]
  std::int64_t last = 0;   // one past the last byte held
  std::int64_t start = 0;  // offset of the first string recorded
  std::int64_t end = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<NeighbourRecord> records;  // for each offset from start to end
  CompressStatus status = CompressStatus::kOk;
  bool done = false;

  const std::uint8_t* At(std::int64_t offset) const { return bytes.data() + (offset - first); }
  std::uint8_t ByteAt(std::int64_t offset) const { return *At(offset); }
};

class BlockWorkers {
 public:
  BlockWorkers(int fd, std::int64_t length, const EncoderWindow& start, std::int64_t block_size,
               int workers)
      : fd_(fd),
        length_(length),
        start_(start),
        block_size_(block_size),
        count_((length + block_size - 1) / block_size),
        slots_(static_cast<std::size_t>(workers) + 2) {
    for (Block& slot : slots_) {
      slot.bytes.resize(static_cast<std::size_t>(block_size + kWindowSize + kTreeSpan + 1));
      slot.records.resize(static_cast<std::size_t>(block_size));
    }
    for (int i = 0; i < workers; ++i) states_.push_back(std::make_unique<EncoderState>());
    // The clean-up signals stay with the main thread.
    SignalBlock block;
    for (int i = 0; i < workers; ++i)
      threads_.emplace_back([this, i] { Work(*states_[static_cast<std::size_t>(i)]); });
  }
  ~BlockWorkers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  BlockWorkers(const BlockWorkers&) = delete;
  BlockWorkers& operator=(const BlockWorkers&) = delete;

  const Block& Wait(std::int64_t index) {
    Block& slot = SlotOf(index);
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [&] { return slot.index == index && slot.done; });
    return slot;
  }

  // Block `index` and those before it are no longer needed.
  void Release(std::int64_t index) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = index + 1;
    }
    wake_.notify_all();
  }

 private:
  Block& SlotOf(std::int64_t index) {
    return slots_[static_cast<std::size_t>(index) % slots_.size()];
  }

  void Work(EncoderState& state) {
    for (;;) {
      Block* block;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] {
          return stopping_ || next_ == count_ ||
                 next_ < released_ + static_cast<std::int64_t>(slots_.size());
        });
        if (stopping_ || next_ == count_) return;
        block = &SlotOf(next_);
        block->index = next_++;
        block->done = false;
      }
      Fill(*block, state);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        block->done = true;
      }
      wake_.notify_all();
    }
  }

  void Fill(Block& block, EncoderState& state) {
    const std::int64_t start = block.index * block_size_;
    const std::int64_t end = std::min(start + block_size_, length_);
    // The tree is built up from the first string whose place is still in
    // the tree at `start` (position 0 never is), or from the member's start.
    std::int64_t from = 0;
    if (block.index > 0) {
      from = start - kTreeSpan - 1;
      if (PositionOf(from) == 0) --from;
    }
    block.start = start;
    block.end = end;
    block.first = block.index > 0 ? from + kLookAheadSize - kWindowSize : 0;
    block.last = std::min(end + kLookAheadSize - 1, length_);
    block.status = CompressStatus::kOk;
    const auto size = static_cast<std::size_t>(block.last - block.first);
    const ssize_t got = ReadFullAt(fd_, block.bytes.data(), size, static_cast<off_t>(block.first));
    if (got < 0 || static_cast<std::size_t>(got) != size) {
      block.status = got < 0 ? CompressStatus::kSourceUnreadable : CompressStatus::kSourceChanged;
      return;
    }
    // The window as the one coder has it when the string at `from` goes in.
    if (block.index == 0) state.SetWindow(start_);
    for (std::int64_t q = block.first; q < std::min(from + kLookAheadSize, block.last); ++q)
      state.StoreByte(PositionOf(q), block.ByteAt(q));
    state.ResetTree(PositionOf(from));
    int ignored;
    for (std::int64_t k = from + 1; k < end; ++k) {
      const int incoming = PositionOf(k + kLookAheadSize - 1);
      state.RemovePosition(incoming);
      if (k + kLookAheadSize - 1 < length_)
        state.StoreByte(incoming, block.ByteAt(k + kLookAheadSize - 1));
      const int n = PositionOf(k);
      if (k < start)
        state.InsertPosition(n, ignored);
      else
        block.records[static_cast<std::size_t>(k - start)] =
            n == kNoNode ? 0 : state.InsertNeighbours(n);
    }
    state.ClearEntries();
  }

  const int fd_;
  const std::int64_t length_;
  const EncoderWindow start_;
  const std::int64_t block_size_;
  const std::int64_t count_;
  std::vector<Block> slots_;
  std::vector<std::unique_ptr<EncoderState>> states_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::int64_t next_ = 0;
  std::int64_t released_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// The bytes two neighbouring blocks both read must agree, or the member
// changed under the coder and the tokens would not describe one content.
bool SameOverlap(const Block& before, const Block& after) {
  const std::int64_t from = std::max(before.first, after.first);
  const std::int64_t to = std::min(before.last, after.last);
  return from >= to ||
         std::memcmp(before.At(from), after.At(from), static_cast<std::size_t>(to - from)) == 0;
}

}  // namespace

CompressStatus EncodeInBlocks(int fd, std::int64_t length, EncoderWindow& window, BitFile& bits,
                              std::int64_t block_size, int workers) {
  BlockWorkers blocks(fd, length, window, block_size, workers);
  auto replay = std::make_unique<TreeReplay>();
  replay->Reset(1);
  std::int64_t index = 0;
  const Block* block = &blocks.Wait(0);
  if (block->status != CompressStatus::kOk) return block->status;
  int current = 1;
  int best_length = 0;
  int best_position = 0;
  int look_ahead = static_cast<int>(std::min<std::int64_t>(length, kLookAheadSize));
  std::int64_t k = 0;
  while (look_ahead > 0) {
    if (best_length > look_ahead) best_length = look_ahead;
    const int steps = OutputToken(bits, best_length, best_position, block->ByteAt(k));
    for (int i = 0; i < steps; ++i) {
      ++k;
      if (k == block->end && k < length) {
        const Block* next = &blocks.Wait(++index);
        if (next->status != CompressStatus::kOk) return next->status;
        if (!SameOverlap(*block, *next)) return CompressStatus::kSourceModified;
        blocks.Release(index - 1);
        if (!bits.failure().empty()) return CompressStatus::kWriteFailed;
        block = next;
      }
      replay->RemovePosition((current + kLookAheadSize) & kPositionMask);
      if (k + kLookAheadSize - 1 >= length) --look_ahead;
      current = (current + 1) & kPositionMask;
      if (look_ahead != 0)
        best_length = current == kNoNode
                          ? 0
                          : replay->InsertPosition(
                                current, block->records[static_cast<std::size_t>(k - block->start)],
                                best_position);
    }
  }
  OutputEndToken(bits);
  // A member that grew since it was measured is no longer the one measured.
  std::uint8_t extra;
  const ssize_t more = ReadFullAt(fd, &extra, 1, static_cast<off_t>(length));
  if (more < 0) return CompressStatus::kSourceUnreadable;
  if (more > 0) return CompressStatus::kSourceChanged;
  const std::int64_t tail = std::min<std::int64_t>(length, kWindowSize);
  AdvanceWindow(window, block->At(length - tail), static_cast<std::size_t>(tail), length);
  return CompressStatus::kOk;
}

}  // namespace quiver
