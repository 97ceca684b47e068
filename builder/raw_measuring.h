// Under -s, members the archive being replaced stored raw are likely raw
// again: their streams' lengths are measured (stream_length.h) instead of
// coded, from the member's file or, for one whose bytes are unchanged,
// from the old archive.
#pragma once

#include <cstdint>
#include <vector>

#include "lzss_encoder.h"
#include "reuse_plan.h"
#include "stage_member.h"
#include "worker_pool.h"

namespace quiver {

// The window a reused member's coding would start from, as far as that
// coding reads it: the positions past its end.
EncoderWindow StartWindow(const Member& member);

// Whether a member read whole is measured before it is coded: one that
// -s stored raw in the archive being replaced, likely raw again.
bool MeasureFirst(const ReusePlan& plan, const Member& member);

// Finds the length of the stream of the member's `bytes`, which have
// kMeasuredRoom bytes of room after them for the window's bytes past its
// end (stream_length.h), and codes them only when
// -s would not store them raw after all (or the search gave up on many
// repeats).
void MeasureOrCode(Member& member, std::uint8_t* bytes);

// Reused members -s stored raw, measured on the pool a batch at a time:
// a task of its own for each would cost more in waking threads than
// measuring most of them does. Their bytes are read from the old archive,
// in one go when they lie close together there, and the archive is looked
// at once, after all of a batch's reads: unchanged since it was checked,
// every byte read is as checked; else each member of the batch gets a
// length of -1, to be coded afresh from its file.
class MeasuredBatch {
 public:
  static constexpr std::size_t kMembers = 64;
  static constexpr std::int64_t kBytes = 256 << 10;

  // Adds `member`, handing the batch to the pool first when it is full.
  void Add(WorkerPool& pool, const ReusePlan& plan, Member& member);
  // Hands the batch to the pool, if it holds any member.
  void Submit(WorkerPool& pool, const ReusePlan& plan);

 private:
  std::vector<Member*> members_;
  std::int64_t bytes_ = 0;
};

}  // namespace quiver
