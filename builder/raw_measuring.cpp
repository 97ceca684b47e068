#include "raw_measuring.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "bit_file.h"
#include "build_run.h"
#include "memory_coder.h"
#include "stream_length.h"
#include "thread_scratch.h"
#include "totals.h"

namespace quiver {
namespace {

// Reads a batch's bytes from the old archive and measures them
// (MeasuredBatch).
void MeasureReused(const ReusePlan& plan, const std::vector<Member*>& members) {
  constexpr std::int64_t kHeldAtMost = 512 << 10;
  const auto old_of = [&plan](const Member* member) -> const OldStream& {
    return plan.old[static_cast<std::size_t>(member->reuse)];
  };
  std::int64_t low = INT64_MAX;
  std::int64_t high = 0;
  for (const Member* member : members) {
    low = std::min(low, old_of(member).offset);
    high = std::max(high, old_of(member).offset + old_of(member).length);
  }
  // The thread's buffers: no other task runs on the thread meanwhile.
  std::vector<std::uint8_t>& held = ThreadStreamBuffer();
  bool in_one = high - low <= kHeldAtMost;
  if (in_one) {
    if (held.size() < static_cast<std::size_t>(high - low))
      held.resize(static_cast<std::size_t>(high - low));
    in_one =
        ReadFullAt(plan.file, held.data(), static_cast<std::size_t>(high - low), low) == high - low;
  }
  std::vector<std::uint8_t>& bytes = ThreadReadBuffer();
  bool all_read = true;
  for (Member* member : members) {
    const OldStream& old = old_of(member);
    const auto size = static_cast<std::size_t>(old.length);
    if (bytes.size() < size + kMeasuredRoom) bytes.resize(size + kMeasuredRoom);
    if (in_one) {
      std::memcpy(bytes.data(), held.data() + (old.offset - low), size);
    } else if (ReadFullAt(plan.file, bytes.data(), size, old.offset) != old.length) {
      all_read = false;
      break;
    }
    WindowBytesPastEnd(StartWindow(*member), bytes.data(), member->length, member->past_end);
    MeasureOrCode(*member, bytes.data());
  }
  FileStatus now;
  if (all_read && StatusOf(plan.file, now) && SameFileState(plan.status, now)) return;
  for (Member* member : members) {
    member->outcome.length = -1;
    member->outcome.stream.clear();
    member->measured_raw = false;
  }
}

}  // namespace

EncoderWindow StartWindow(const Member& member) {
  EncoderWindow start;
  for (int k = 0; k < kLookAheadSize - 1; ++k)
    start.bytes[PositionOfOffset(member.length + k)] = member.past_end[k];
  return start;
}

bool MeasureFirst(const ReusePlan& plan, const Member& member) {
  return build_run.smallest && member.length <= kMeasuredAtMost &&
         plan.stored_raw[static_cast<std::size_t>(member.index)];
}

void MeasureOrCode(Member& member, std::uint8_t* bytes) {
  std::copy(std::begin(member.past_end), std::end(member.past_end), bytes + member.length);
  const std::int64_t length = StreamLength(bytes, member.length, 2 * member.length + 4096);
  if (length >= 0 && CompressionRatio(length, member.length) <= 0) {
    member.measured_raw = true;
    member.outcome.length = static_cast<std::int32_t>(length);
    return;
  }
  BitFile bits(member.outcome.stream);
  EncodeMemberInMemory({bytes, member.length, member.past_end}, bits);
  bits.Finish();
  member.outcome.length = static_cast<std::int32_t>(member.outcome.stream.size());
}

void MeasuredBatch::Add(WorkerPool& pool, const ReusePlan& plan, Member& member) {
  if (members_.size() == kMembers || bytes_ + member.length > kBytes) Submit(pool, plan);
  members_.push_back(&member);
  bytes_ += member.length;
}

void MeasuredBatch::Submit(WorkerPool& pool, const ReusePlan& plan) {
  if (members_.empty()) return;
  auto task =
      std::make_shared<PoolTask>([&plan, members = members_] { MeasureReused(plan, members); });
  for (Member* member : members_) member->task = task;
  pool.Submit(*task);
  members_.clear();
  bytes_ = 0;
}

}  // namespace quiver
