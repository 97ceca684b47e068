#include "block_encoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "neighbour_record.h"
#include "sorted_neighbours.h"
#include "thread_scratch.h"
#include "token_loop.h"
#include "tree_replay.h"
#include "worker_pool.h"

namespace quiver {
namespace {

// Strings the tree holds when a step starts: those of the 4079 bytes before
// it, and the string about to be filed.
constexpr std::int64_t kTreeSpan = kWindowSize - kLookAheadSize;

struct Block {
  std::int64_t index = -1;
  std::int64_t first = 0;  // member offset of bytes[0]
  std::int64_t last = 0;   // one past the last byte held
  std::int64_t start = 0;  // offset of the first string recorded
  std::int64_t end = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<NeighbourRecord> records;  // for each offset from start to end
  CompressStatus status = CompressStatus::kOk;
  std::unique_ptr<PoolTask> fill;

  const std::uint8_t* At(std::int64_t offset) const { return bytes.data() + (offset - first); }
  std::uint8_t ByteAt(std::int64_t offset) const { return *At(offset); }
};

// The member's blocks, each filled by a pool task a few blocks ahead of the
// coding thread, in a ring of slots that a released block frees.
class BlockRing {
 public:
  BlockRing(WorkerPool& pool, FileHandle source, std::int64_t length, std::int64_t block_size)
      : pool_(pool),
        source_(source),
        length_(length),
        block_size_(block_size),
        count_((length + block_size - 1) / block_size),
        // Enough blocks ahead that no thread waits for a slot to come free.
        slots_(static_cast<std::size_t>(pool.threads()) + 4) {
    // The buffers of the thread's last long member serve again.
    std::vector<BlockBuffers>& kept = ThreadBlockBuffers();
    for (Block& slot : slots_) {
      if (!kept.empty()) {
        slot.bytes.swap(kept.back().bytes);
        slot.records.swap(kept.back().records);
        kept.pop_back();
      }
      slot.bytes.resize(static_cast<std::size_t>(block_size + kWindowSize + kTreeSpan + 1));
      slot.records.resize(static_cast<std::size_t>(block_size));
      slot.fill = std::make_unique<PoolTask>([this, &slot] { Fill(slot); });
    }
    // So that giving them back allocates nothing.
    kept.reserve(kept.size() + slots_.size());
    for (std::int64_t i = 0; i < std::min<std::int64_t>(count_, Slots()); ++i) Start(i);
  }
  // On the thread that made the ring, as EncodeInBlocks returns.
  ~BlockRing() {
    std::vector<BlockBuffers>& kept = ThreadBlockBuffers();
    for (Block& slot : slots_) {
      pool_.Cancel(*slot.fill);
      kept.push_back({std::move(slot.bytes), std::move(slot.records)});
    }
  }
  BlockRing(const BlockRing&) = delete;
  BlockRing& operator=(const BlockRing&) = delete;

  const Block& Wait(std::int64_t index) {
    Block& slot = SlotOf(index);
    pool_.Wait(*slot.fill);
    return slot;
  }

  // Block `index` is no longer needed: its slot takes a later one.
  void Release(std::int64_t index) {
    if (index + Slots() < count_) Start(index + Slots());
  }

 private:
  std::int64_t Slots() const { return static_cast<std::int64_t>(slots_.size()); }
  Block& SlotOf(std::int64_t index) { return slots_[static_cast<std::size_t>(index % Slots())]; }
  void Start(std::int64_t index) {
    Block& slot = SlotOf(index);
    slot.index = index;
    pool_.Submit(*slot.fill, true);
  }

  void Fill(Block& block) const {
    const std::int64_t start = block.index * block_size_;
    const std::int64_t end = std::min(start + block_size_, length_);
    // The bytes start where the window did when the first string still in
    // the tree at `start` went in (position 0 never holds one): strings past
    // the member's end read on in them.
    std::int64_t from = 0;
    if (block.index > 0) {
      from = start - kTreeSpan - 1;
      if (PositionOfOffset(from) == 0) --from;
    }
    block.start = start;
    block.end = end;
    block.first = block.index > 0 ? from + kLookAheadSize - kWindowSize : 0;
    block.last = std::min(end + kLookAheadSize - 1, length_);
    block.status = CompressStatus::kOk;
    const auto size = static_cast<std::size_t>(block.last - block.first);
    const std::int64_t got = ReadFullAt(source_, block.bytes.data(), size, block.first);
    if (got < 0 || static_cast<std::size_t>(got) != size) {
      block.status = got < 0 ? CompressStatus::kSourceUnreadable : CompressStatus::kSourceChanged;
      return;
    }
    const StringBytes strings{block.bytes.data(), block.first, length_};
    ThreadSortedNeighbours().Find(strings, start, end, block.records.data());
  }

  WorkerPool& pool_;
  const FileHandle source_;
  const std::int64_t length_;
  const std::int64_t block_size_;
  const std::int64_t count_;
  std::vector<Block> slots_;
};

// The bytes two neighbouring blocks both read must agree, or the member
// changed under the coder and the tokens would not describe one content.
bool SameOverlap(const Block& before, const Block& after) {
  const std::int64_t from = std::max(before.first, after.first);
  const std::int64_t to = std::min(before.last, after.last);
  return from >= to ||
         std::memcmp(before.At(from), after.At(from), static_cast<std::size_t>(to - from)) == 0;
}

// The coding thread's side: the recorded neighbours, replayed in order.
class ReplayMatcher {
 public:
  ReplayMatcher(BlockRing& blocks, BitFile& bits, std::int64_t length,
                std::atomic<std::int64_t>* progress)
      : blocks_(blocks),
        bits_(bits),
        length_(length),
        replay_(std::make_unique<TreeReplay>()),
        progress_(progress) {
    replay_->Reset(1);
    block_ = &blocks_.Wait(0);
    status_ = block_->status;
  }
  CompressStatus status() const { return status_; }
  const Block& block() const { return *block_; }

  std::uint8_t Literal(int) const { return block_->ByteAt(k_); }
  int Advance(int current) {
    ++k_;
    if (k_ == block_->end && k_ < length_ && !NextBlock()) return -1;
    replay_->RemovePosition((current + kLookAheadSize) & kPositionMask);
    return k_ + kLookAheadSize - 1 < length_ ? 1 : 0;
  }
  int Insert(int n, int& best_position) {
    if (n == kNoNode) return 0;
    return replay_->InsertPosition(n, block_->records[static_cast<std::size_t>(k_ - block_->start)],
                                   best_position);
  }

 private:
  bool NextBlock() {
    const Block& next = blocks_.Wait(++index_);
    if (next.status != CompressStatus::kOk)
      status_ = next.status;
    else if (!SameOverlap(*block_, next))
      status_ = CompressStatus::kSourceModified;
    else if (!bits_.failure().empty())
      status_ = CompressStatus::kWriteFailed;
    if (status_ != CompressStatus::kOk) return false;
    blocks_.Release(index_ - 1);
    block_ = &next;
    if (progress_ != nullptr) *progress_ = block_->start;
    return true;
  }

  BlockRing& blocks_;
  BitFile& bits_;
  const std::int64_t length_;
  std::unique_ptr<TreeReplay> replay_;
  const Block* block_;
  std::int64_t index_ = 0;
  std::int64_t k_ = 0;
  CompressStatus status_;
  std::atomic<std::int64_t>* progress_;
};

}  // namespace

CompressStatus EncodeInBlocks(FileHandle source, std::int64_t length, BitFile& bits,
                              std::int64_t block_size, WorkerPool& pool,
                              std::atomic<std::int64_t>* progress) {
  BlockRing blocks(pool, source, length, block_size);
  ReplayMatcher matcher(blocks, bits, length, progress);
  if (matcher.status() != CompressStatus::kOk) return matcher.status();
  const int look_ahead = static_cast<int>(std::min<std::int64_t>(length, kLookAheadSize));
  if (!EncodeTokens(matcher, bits, look_ahead)) return matcher.status();
  // A member that grew since it was measured is no longer the one measured.
  std::uint8_t extra;
  const std::int64_t more = ReadFullAt(source, &extra, 1, length);
  if (more < 0) return CompressStatus::kSourceUnreadable;
  if (more > 0) return CompressStatus::kSourceChanged;
  return CompressStatus::kOk;
}

}  // namespace quiver
