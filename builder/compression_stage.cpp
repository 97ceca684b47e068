#include "compression_stage.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstring>
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
#include "reuse_plan.h"
#include "standard_output.h"
#include "stream_length.h"
#include "temp_files.h"
#include "temp_path.h"
#include "thread_scratch.h"
#include "totals.h"
#include "worker_pool.h"

namespace quiver {
namespace {

// One member on its way through the coder. A short one is read whole and
// coded with the short members around it, its stream kept in memory until
// it is recorded; a longer one is coded alone from its open file into its
// temporary file.
struct Member {
  Member(std::int32_t member, std::int64_t member_length) : index(member), length(member_length) {}

  std::int32_t index;
  std::int64_t length;
  // Of its bytes, those counted against kBytesReadAhead: none when its old
  // stream serves, as nothing of it is then held or coded.
  std::int64_t held = length;
  bool short_member = false;       // or read whole to be measured first
  bool measured_raw = false;       // -s stores it raw by its stream's length alone
  std::int32_t reuse = -1;         // the old record whose stream serves it
  bool copied = false;             // reused, its stream copied with one before it
  std::shared_ptr<PoolTask> task;  // what codes it; none when it could not be read
  // Coded alone: the member and its temporary file, the window before it.
  FileHandle source = kNoFile;
  FileHandle temp = kNoFile;
  std::unique_ptr<EncoderWindow> start;
  // Coded with others or measured first: its bytes, and the window's
  // bytes past its end. Reused: the window's bytes at the positions past its end, all of the
  // window its coding would read should its old stream fail it.
  std::vector<std::uint8_t> bytes;
  std::uint8_t past_end[kLookAheadSize - 1] = {};
  CompressOutcome outcome{CompressStatus::kSourceUnreadable, 0, {}, {}};
};

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

// The window a reused member's coding would start from, as far as that
// coding reads it: the positions past its end.
EncoderWindow StartWindow(const Member& member) {
  EncoderWindow start;
  for (int k = 0; k < kLookAheadSize - 1; ++k)
    start.bytes[PositionOfOffset(member.length + k)] = member.past_end[k];
  return start;
}

// Whether a member read whole is measured before it is coded: one that
// -s stored raw in the archive being replaced, likely raw again.
bool MeasureFirst(const ReusePlan& plan, const Member& member) {
  return build_run.smallest && member.length <= kMeasuredAtMost &&
         plan.stored_raw[static_cast<std::size_t>(member.index)];
}

// Finds the length of the stream of the member's `bytes`, which have room
// for the window's bytes past its end after them, and codes them only when
// -s would not store them raw after all (or the search gave up on many
// repeats).
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

// Reads the bytes of members -s stored raw from the old archive and
// measures them (MeasureOrCode), reading them in one go when they lie close
// together there. The archive is looked at once, after all the reads:
// unchanged since it was checked, every byte read is as checked; else each
// member gets a length of -1, to be coded afresh from its file.
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
    if (bytes.size() < size + kLookAheadSize - 1) bytes.resize(size + kLookAheadSize - 1);
    if (in_one)
      std::memcpy(bytes.data(), held.data() + (old.offset - low), size);
    else if (ReadFullAt(plan.file, bytes.data(), size, old.offset) != old.length)
      all_read = false;
    if (!all_read) break;
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

// Reused members -s stored raw, measured on the pool a batch at a time:
// a task of its own for each would cost more in waking threads than
// measuring most of them does.
class MeasuredBatch {
 public:
  static constexpr std::size_t kMembers = 64;
  static constexpr std::int64_t kBytes = 256 << 10;

  // Adds `member`, handing the batch to the pool first when it is full.
  void Add(WorkerPool& pool, const ReusePlan& plan, Member& member) {
    if (members_.size() == kMembers || bytes_ + member.length > kBytes) Submit(pool, plan);
    members_.push_back(&member);
    bytes_ += member.length;
  }
  // Hands the batch to the pool, if it holds any member.
  void Submit(WorkerPool& pool, const ReusePlan& plan) {
    if (members_.empty()) return;
    auto task =
        std::make_shared<PoolTask>([&plan, members = members_] { MeasureReused(plan, members); });
    for (Member* member : members_) member->task = task;
    pool.Submit(*task);
    members_.clear();
    bytes_ = 0;
  }

 private:
  std::vector<Member*> members_;
  std::int64_t bytes_ = 0;
};

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
  member.bytes.resize(static_cast<std::size_t>(member.length + kLookAheadSize - 1));
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
  CloseOldArchive(plan);
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
