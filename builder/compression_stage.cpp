#include "compression_stage.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <vector>

#include "build_run.h"
#include "copy_stage.h"
#include "exit_paths.h"
#include "lzss_encoder.h"
#include "measure_members.h"
#include "member_path.h"
#include "memory_coder.h"
#include "platform.h"
#include "progress.h"
#include "raw_measuring.h"
#include "reuse_plan.h"
#include "stage_member.h"
#include "standard_output.h"
#include "stream_length.h"
#include "temp_files.h"
#include "temp_path.h"
#include "thread_scratch.h"
#include "totals.h"
#include "worker_pool.h"

namespace quiver {
namespace {

using InFlight = std::deque<std::unique_ptr<Member>>;

// Reading ahead stops at this many members, or at this many of their bytes,
// not yet reported.
constexpr std::size_t kMembersReadAhead = 4096;

// The stream's file cannot be opened: a failure of the bit output stream,
// reported as such, with the temporary name as the member's is written.
[[noreturn]] void TempFileError(const StageEntry& stage) {
  ReportError("BitFile::BitFile unable to open temporary file %s.",
              MakeTempPath(stage.source_path).c_str());
}

void RecordFailure(std::int32_t i, const CompressOutcome& outcome) {
  const char* name = build_run.toc[i].name;
  switch (outcome.status) {
    case CompressStatus::kOk:
      return;
    case CompressStatus::kSourceUnreadable:
      Print("Unable to read %s for compression\n", name);
      FatalExit(kExitFailure);
    case CompressStatus::kSourceChanged:
      Print("%s changed length during compression\n", name);
      FatalExit(kExitFailure);
    case CompressStatus::kSourceModified:
      Print("%s changed during compression\n", name);
      FatalExit(kExitFailure);
    case CompressStatus::kTempUnreadable:
      Print("Unable to measure temporary file %s\n", build_run.stage[i].temp_path);
      FatalExit(kExitFailure);
    case CompressStatus::kWriteFailed:
      ReportError("%s", outcome.failure.c_str());
  }
}

// The member's stored form, from the length of its stream: -s stores it
// raw when the stream does not shrink it.
void DecideStoredForm(std::int32_t i, std::int32_t stream_length) {
  StageEntry& stage = build_run.stage[i];
  const bool raw =
      build_run.smallest && CompressionRatio(stream_length, stage.original_length) <= 0;
  stage.compressed_length = raw ? 0 : stream_length;
}

void ReportCompression(std::int32_t i, std::int32_t stream_length) {
  const TocEntry& entry = build_run.toc[i];
  const StageEntry& stage = build_run.stage[i];
  build_run.compressed_total += StoredLength(stage);
  Progress("%s logged - %x %i %i %" PRId64 "%%%s\n", entry.name, entry.crc, stage.original_length,
           stream_length, CompressionRatio(stream_length, stage.original_length),
           StoredRaw(stage) ? " - storing uncompressed" : "");
}

// Reports one member's compression, in response-file order, and copies
// its stored bytes into the archive.
void RecordCompression(std::int32_t i, const CompressOutcome& outcome,
                       std::vector<std::uint8_t>& copy_buffer) {
  RecordFailure(i, outcome);
  DecideStoredForm(i, outcome.length);
  ReportCompression(i, outcome.length);
  CopyMember(i, outcome.stream, copy_buffer);
}

// Opens a member as it was measured; kNoFile with the reason in `problem`
// when it cannot be opened or is no longer the file measured.
FileHandle OpenMeasured(const StageEntry& stage, FileStatus& status, CompressStatus& problem) {
  problem = CompressStatus::kSourceUnreadable;
  const FileHandle file = OpenForReading(MapMemberPath(stage.source_path).c_str(), status);
  if (file == kNoFile) return kNoFile;
  if (!SameFileState(stage.measured, status)) {
    problem = CompressStatus::kSourceModified;
    CloseFile(file);
    return kNoFile;
  }
  return file;
}

// Opens a member to be coded alone and moves `window` past it from its last
// bytes; the member stays open at its start for its compression, or is
// kNoFile with the reason in `problem` when those bytes cannot be read.
FileHandle OpenAndAdvancePast(EncoderWindow& window, const StageEntry& stage,
                              CompressStatus& problem) {
  FileStatus status;
  const FileHandle file = OpenMeasured(stage, status, problem);
  if (file == kNoFile) return kNoFile;
  const std::int64_t length = stage.original_length;
  const auto tail = static_cast<std::size_t>(std::min<std::int64_t>(length, kWindowSize));
  std::uint8_t bytes[kWindowSize];
  if (ReadFullAt(file, bytes, tail, length - static_cast<std::int64_t>(tail)) !=
      static_cast<std::int64_t>(tail)) {
    CloseFile(file);
    return kNoFile;
  }
  AdvanceWindow(window, bytes, tail, length);
  return file;
}

// A member whose old stream serves: the window moves past it where later
// members read it. One -s stored raw is then measured (MeasuredBatch).
void TakeReused(EncoderWindow& window, const ReusePlan& plan, Member& member, std::int32_t j) {
  for (int k = 0; k < kLookAheadSize - 1; ++k)
    member.past_end[k] = window.bytes[PositionOfOffset(member.length + k)];
  LeaveReadBytes(plan, member.index, window);
  member.reuse = j;
  member.outcome = {
      CompressStatus::kOk, plan.old[static_cast<std::size_t>(j)].stream_length, {}, {}};
}

// Reads a short member whole, checked as the coder checks a member it
// reads, and moves `window` past it; the outcome's status says whether it
// could.
void ReadShortMember(EncoderWindow& window, const StageEntry& stage, Member& member) {
  FileStatus status;
  CompressStatus& problem = member.outcome.status;
  const FileHandle file = OpenMeasured(stage, status, problem);
  if (file == kNoFile) return;
  // One byte more tells a member that grew; the room after it takes the
  // window's bytes past its end, should it be measured (MeasureOrCode).
  member.bytes.resize(static_cast<std::size_t>(member.length + kMeasuredRoom));
  const std::int64_t got =
      ReadFull(file, member.bytes.data(), static_cast<std::size_t>(member.length) + 1);
  FileStatus after;
  if (got < 0)
    problem = CompressStatus::kSourceUnreadable;
  else if (got != member.length)
    problem = CompressStatus::kSourceChanged;
  else if (!StatusOf(file, after) || !SameFileState(status, after))
    problem = CompressStatus::kSourceModified;
  else
    problem = CompressStatus::kOk;
  CloseFile(file);
  if (problem != CompressStatus::kOk) return;
  WindowBytesPastEnd(window, member.bytes.data(), member.length, member.past_end);
  AdvanceWindow(window, member.bytes.data(), static_cast<std::size_t>(member.length),
                member.length);
}

// The short members read since the last batch went to the pool.
class Batch {
 public:
  void Add(Member& member) {
    members_.push_back(&member);
    bytes_ += member.length + kLookAheadSize - 1;
  }
  // Whether `length` more bytes would fit.
  bool Fits(std::int64_t length) const {
    return bytes_ + length + kLookAheadSize - 1 <= SortedNeighbours::kBatchBytes;
  }
  // Hands the batch to the pool, if it holds any member.
  void Submit(WorkerPool& pool) {
    if (members_.empty()) return;
    auto task = std::make_shared<PoolTask>([members = members_] { CodeBatch(members); });
    for (Member* member : members_) member->task = task;
    pool.Submit(*task);
    members_.clear();
    bytes_ = 0;
  }

 private:
  static void CodeBatch(const std::vector<Member*>& members) {
    std::vector<ShortMember> inputs;
    std::vector<std::vector<std::uint8_t>*> streams;
    for (Member* member : members) {
      inputs.push_back({member->bytes.data(), member->length, member->past_end});
      streams.push_back(&member->outcome.stream);
    }
    EncodeShortMembers(inputs.data(), inputs.size(), streams.data());
    for (Member* member : members) {
      member->outcome.length = static_cast<std::int32_t>(member->outcome.stream.size());
      member->bytes = {};
    }
  }

  std::vector<Member*> members_;
  std::int64_t bytes_ = 0;
};

// Gives a short member its temporary file and writes its stream there,
// before the stream goes into the archive.
void WriteTempFile(Member& member) {
  StageEntry& stage = build_run.stage[member.index];
  member.temp = TakeTempFile(stage);
  if (member.temp == kNoFile) TempFileError(stage);
  if (member.outcome.status == CompressStatus::kOk &&
      !WriteAll(member.temp, member.outcome.stream.data(), member.outcome.stream.size()))
    ReportError("%s", "Fatal error in ~BitFile!\n");
}

// Whether a reused member's stored bytes are those it has in the old
// archive, decided by its stream's length: false when it is stored raw
// now but not there (it is then copied from its file), or when its length
// is unknown or it was coded (it is then not copied from there at all).
bool StoredAsBefore(const ReusePlan& plan, const Member& member) {
  const OldStream& old = plan.old[static_cast<std::size_t>(member.reuse)];
  const bool raw_before = old.stream_length == 0;
  if (member.outcome.length < 0 || (raw_before && !member.measured_raw)) return false;
  DecideStoredForm(member.index, member.outcome.length);
  return StoredRaw(build_run.stage[member.index]) == raw_before;
}

// The number of members from the oldest on whose stored bytes follow one
// another in the old archive, so that one copy takes them all.
std::int32_t ReusedRun(WorkerPool& pool, const ReusePlan& plan, const InFlight& in_flight) {
  const OldStream& first = plan.old[static_cast<std::size_t>(in_flight.front()->reuse)];
  std::int64_t end = first.offset + StoredSize(first);
  std::size_t count = 1;
  for (; count < in_flight.size(); ++count) {
    Member& next = *in_flight[count];
    if (next.reuse < 0 || next.copied) break;
    if (next.task) pool.Wait(*next.task);
    const OldStream& old = plan.old[static_cast<std::size_t>(next.reuse)];
    if (old.offset != end || !StoredAsBefore(plan, next)) break;
    end += StoredSize(old);
  }
  return static_cast<std::int32_t>(count);
}

// A member whose old stream (or under -s raw bytes) serves, copied from the
// old archive with those that follow it there; coded afresh after all when
// that archive changed or could not be read since it was checked.
void RecordReused(WorkerPool& pool, const ReusePlan& plan, InFlight& in_flight,
                  std::vector<std::uint8_t>& copy_buffer) {
  Member& member = *in_flight.front();
  const std::int32_t i = member.index;
  const OldStream& old = plan.old[static_cast<std::size_t>(member.reuse)];
  if (!member.outcome.stream.empty()) {
    // Stored raw before, coded now from those bytes.
    RecordCompression(i, member.outcome, copy_buffer);
    return;
  }
  if (member.outcome.length >= 0) {
    const bool as_before = StoredAsBefore(plan, member);
    bool copied = member.copied || !as_before;
    if (!copied) {
      const std::int32_t run = ReusedRun(pool, plan, in_flight);
      copied = CopyMembersFrom(i, run, plan.file, plan.status, old.offset, copy_buffer);
      if (copied)
        for (std::int32_t k = 1; k < run; ++k)
          in_flight[static_cast<std::size_t>(k)]->copied = true;
      else if (run > 1)
        copied = CopyMembersFrom(i, 1, plan.file, plan.status, old.offset, copy_buffer);
    }
    if (copied) {
      // Stored raw now but not before: copied from the member in the copy stage.
      if (!as_before) CopyMember(i, {}, copy_buffer);
      ReportCompression(i, member.outcome.length);
      ++build_run.reused;
      return;
    }
  }
  StageEntry& stage = build_run.stage[i];
  member.temp = TakeTempFile(stage);
  if (member.temp == kNoFile) TempFileError(stage);
  const EncoderWindow start = StartWindow(member);
  FileStatus status;
  CompressStatus problem;
  const FileHandle source = OpenMeasured(stage, status, problem);
  member.outcome = source == kNoFile
                       ? CompressOutcome{problem, 0, {}, {}}
                       : CompressMember(start, source, member.temp, member.length, pool);
  RecordCompression(i, member.outcome, copy_buffer);
}

// Waits for the oldest member and reports it; a worker that ran out of
// memory ends the run here, without unwinding past running workers. Its
// temporary file is then spent.
void RecordOldest(WorkerPool& pool, const ReusePlan& plan, InFlight& in_flight,
                  std::int64_t& bytes_in_flight, std::vector<std::uint8_t>& copy_buffer) {
  Member& oldest = *in_flight.front();
  try {
    if (oldest.task) pool.Wait(*oldest.task);
    if (oldest.reuse >= 0) RecordReused(pool, plan, in_flight, copy_buffer);
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
  if (oldest.short_member && !oldest.measured_raw) WriteTempFile(oldest);
  if (oldest.reuse < 0) RecordCompression(oldest.index, oldest.outcome, copy_buffer);
  if (oldest.temp != kNoFile) SpendTempFile(oldest.index, oldest.temp);
  bytes_in_flight -= oldest.held;
  in_flight.pop_front();
}

// Measures the members while the old archive's table (-u) loads.
void MeasureWhileLoading(WorkerPool& pool, ReusePlan& plan) {
  StartLoadingOldArchive(plan, pool);
  const Measurements measured = MeasureMembers(pool);
  // No thread may run when a member that cannot be used ends the run.
  AwaitOldArchive(plan);
  RecordMeasurements(measured);
}

}  // namespace

void CompressMembers(std::vector<std::uint8_t>& copy_buffer) {
  // Every member goes to the pool, each coded from the window the members
  // before it leave, so every stream is the one a single coder going
  // through the members in order would write.
  InFlight in_flight;
  std::int64_t bytes_in_flight = 0;
  const int processors = AvailableProcessors();
  WorkerPool pool(build_run.threads > 0 ? std::min(build_run.threads, processors) : processors,
                  ReleaseThreadScratch);
  ReusePlan plan;
  MeasureWhileLoading(pool, plan);
  StartCopies();
  StartReusePlan(plan);
  EncoderWindow window;
  Batch batch;
  MeasuredBatch measured;
  // Every member read ahead is on the pool before the oldest is waited for.
  const auto submit_batches = [&] {
    batch.Submit(pool);
    measured.Submit(pool, plan);
  };
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    StageEntry& stage = build_run.stage[i];
    auto owned = std::make_unique<Member>(i, stage.original_length);
    Member& member = *owned;
    in_flight.push_back(std::move(owned));
    AwaitSource(plan, i);
    if (const std::int32_t old = ReusableSource(plan, i, window); old >= 0) {
      TakeReused(window, plan, member, old);
      if (plan.old[static_cast<std::size_t>(old)].stream_length != 0)
        member.held = 0;
      else
        measured.Add(pool, plan, member);
    } else if (MeasureFirst(plan, member)) {
      member.short_member = true;
      ReadShortMember(window, stage, member);
      if (member.outcome.status == CompressStatus::kOk) {
        member.task = std::make_shared<PoolTask>([&member] {
          MeasureOrCode(member, member.bytes.data());
          member.bytes = {};
        });
        pool.Submit(*member.task);
      }
    } else if (member.length <= SortedNeighbours::kShortMemberLimit) {
      member.short_member = true;
      if (!batch.Fits(member.length)) batch.Submit(pool);
      ReadShortMember(window, stage, member);
      if (member.outcome.status == CompressStatus::kOk) batch.Add(member);
    } else {
      submit_batches();
      member.temp = TakeTempFile(stage);
      if (member.temp == kNoFile) {
        in_flight.pop_back();
        while (!in_flight.empty())
          RecordOldest(pool, plan, in_flight, bytes_in_flight, copy_buffer);
        TempFileError(stage);
      }
      member.start = std::make_unique<EncoderWindow>(window);
      member.source = OpenAndAdvancePast(window, stage, member.outcome.status);
      if (member.source != kNoFile) {
        member.task = std::make_shared<PoolTask>([&member, &pool] {
          std::atomic<std::int64_t> coded{0};
          const LongWork shown(build_run.toc[member.index].name, member.length, coded);
          member.outcome = CompressMember(*member.start, member.source, member.temp, member.length,
                                          pool, kBlockSize, &coded);
        });
        pool.Submit(*member.task);
      }
    }
    bytes_in_flight += member.held;
    const bool last = i + 1 == build_run.count;
    if (last || in_flight.size() >= kMembersReadAhead || bytes_in_flight >= kBytesReadAhead)
      submit_batches();
    while (!in_flight.empty() &&
           (last || in_flight.size() >= kMembersReadAhead || bytes_in_flight >= kBytesReadAhead))
      RecordOldest(pool, plan, in_flight, bytes_in_flight, copy_buffer);
  }
  FinishReuse(plan);
}

void DeleteTemporaryFiles() {
  Progress("Deleting temporary files\n");
  CloseSpentTempFiles();
  bool all_gone;
  {
    CleanupSignalBlock block;
    all_gone = RemoveMemberTemporaries(true);
  }
  // A run that leaves a file in the tree is a failed run: it replaces nothing.
  if (!all_gone) FatalExit(kExitFailure);
}

}  // namespace quiver
