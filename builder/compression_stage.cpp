#include "compression_stage.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <vector>

#include "build_run.h"
#include "copy_stage.h"
#include "exit_paths.h"
#include "lzss_encoder.h"
#include "member_path.h"
#include "platform.h"
#include "progress.h"
#include "temp_path.h"
#include "thread_scratch.h"
#include "totals.h"
#include "worker_pool.h"

namespace quiver {
namespace {

// One member on its way through the coder.
struct MemberTask {
  explicit MemberTask(std::int32_t member, WorkerPool& pool)
      : index(member), task([this, &pool] {
          outcome =
              CompressMember(start, source, temp, build_run.stage[index].original_length, pool);
        }) {}

  std::int32_t index;
  FileHandle source = kNoFile;
  FileHandle temp = kNoFile;
  // The window the members before it leave.
  EncoderWindow start;
  CompressOutcome outcome{CompressStatus::kSourceUnreadable, 0, {}, {}};
  PoolTask task;
};

// The temporary name in the archive's directory, for a member whose own
// directory may not be written.
std::string BesideTheArchive(const std::string& temp) {
  const std::string target = build_run.archive_target;
  const std::size_t slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  return directory + temp.substr(temp.rfind('/') + 1);
}

// Temporary files whose streams are in the archive, still open: the next
// members take them over under their own names, since on some file systems
// making a file costs far more than renaming one.
struct SpentTemp {
  std::int32_t member;
  FileHandle file;
};
std::vector<SpentTemp> spent_temps;

// Gives the last spent temporary file the name `temp`, if free, and
// records it as `stage`'s. One that cannot take it is closed and left to
// the deletion at the end, so that few files stay open.
FileHandle TakeSpentTemp(const std::string& temp, StageEntry& stage) {
  if (spent_temps.empty()) return kNoFile;
  const SpentTemp spent = spent_temps.back();
  spent_temps.pop_back();
  StageEntry& owner = build_run.stage[spent.member];
  CleanupSignalBlock block;
  if (temp.size() >= sizeof stage.temp_path ||
      RenameNoReplaceAndEmpty(spent.file, owner.temp_path, temp.c_str()) !=
          CreateResult::kCreated) {
    CloseFile(spent.file);
    return kNoFile;
  }
  std::memcpy(stage.temp_path, temp.c_str(), temp.size() + 1);
  stage.temp_created = 1;
  owner.temp_created = 0;
  return spent.file;
}

// Creates the member's temporary file, never over an existing file, and
// returns it open for writing: beside the member, or beside the archive
// when the member's directory may not be written (a read-only tree);
// kNoFile when neither can be created.
FileHandle CreateTempFile(StageEntry& stage) {
  std::string temp = MapMemberPath(MakeTempPath(stage.source_path).c_str());
  FileHandle file = TakeSpentTemp(temp, stage);
  if (file != kNoFile) return file;
  CleanupSignalBlock block;
  bool denied = false;
  file = CreateExclusiveFile(temp, stage.temp_path, sizeof stage.temp_path, denied);
  if (file == kNoFile && denied)
    file = CreateExclusiveFile(BesideTheArchive(temp), stage.temp_path, sizeof stage.temp_path,
                               denied);
  if (file != kNoFile) stage.temp_created = 1;
  return file;
}

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
      std::printf("Unable to read %s for compression\n", name);
      FatalExit(kExitFailure);
    case CompressStatus::kSourceChanged:
      std::printf("%s changed length during compression\n", name);
      FatalExit(kExitFailure);
    case CompressStatus::kSourceModified:
      std::printf("%s changed during compression\n", name);
      FatalExit(kExitFailure);
    case CompressStatus::kTempUnreadable:
      std::printf("Unable to measure temporary file %s\n", build_run.stage[i].temp_path);
      FatalExit(kExitFailure);
    case CompressStatus::kWriteFailed:
      ReportError("%s", outcome.failure.c_str());
  }
}

// Reports one member's compression, in response-file order, and copies
// its stored bytes into the archive.
void RecordCompression(std::int32_t i, const CompressOutcome& outcome,
                       std::vector<std::uint8_t>& copy_buffer) {
  RecordFailure(i, outcome);
  const TocEntry& entry = build_run.toc[i];
  StageEntry& stage = build_run.stage[i];
  const std::int64_t ratio = CompressionRatio(outcome.length, stage.original_length);
  const bool raw = build_run.smallest && ratio <= 0;
  stage.compressed_length = raw ? 0 : outcome.length;
  build_run.compressed_total += StoredLength(stage);
  Progress("%s logged - %x %i %i %" PRId64 "%%%s\n", entry.name, entry.crc, stage.original_length,
           outcome.length, ratio, raw ? " - storing uncompressed" : "");
  CopyMember(i, outcome.stream, copy_buffer);
}

// Opens a member and moves `window` past it from its last bytes; returns
// the member open at its start for its compression, or kNoFile with the
// reason in `problem` when it cannot be opened, is no longer the file
// measured, or those bytes cannot be read.
FileHandle OpenAndAdvancePast(EncoderWindow& window, const StageEntry& stage,
                              CompressStatus& problem) {
  FileStatus status;
  problem = CompressStatus::kSourceUnreadable;
  const FileHandle file = OpenForReading(MapMemberPath(stage.source_path).c_str(), status);
  if (file == kNoFile) return kNoFile;
  if (!SameFileState(stage.measured, status)) {
    problem = CompressStatus::kSourceModified;
    CloseFile(file);
    return kNoFile;
  }
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

// Waits for the oldest member and reports it; a worker that ran out of
// memory ends the run here, without unwinding past running workers. Its
// temporary file is then spent.
void RecordOldest(WorkerPool& pool, std::deque<std::unique_ptr<MemberTask>>& in_flight,
                  std::vector<std::uint8_t>& copy_buffer) {
  MemberTask& oldest = *in_flight.front();
  try {
    pool.Wait(oldest.task);
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
  RecordCompression(oldest.index, oldest.outcome, copy_buffer);
  if (oldest.temp != kNoFile) spent_temps.push_back({oldest.index, oldest.temp});
  in_flight.pop_front();
}

}  // namespace

void CompressMembers(std::vector<std::uint8_t>& copy_buffer) {
  // Every member goes to the pool, each coded from the window the members
  // before it leave, so every stream is the one a single coder going
  // through the members in order would write.
  std::deque<std::unique_ptr<MemberTask>> in_flight;
  const int processors = AvailableProcessors();
  WorkerPool pool(build_run.threads > 0 ? std::min(build_run.threads, processors) : processors,
                  ReleaseThreadScratch);
  StartCopies();
  EncoderWindow window;
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    StageEntry& stage = build_run.stage[i];
    auto member = std::make_unique<MemberTask>(i, pool);
    member->temp = CreateTempFile(stage);
    if (member->temp == kNoFile) {
      while (!in_flight.empty()) RecordOldest(pool, in_flight, copy_buffer);
      TempFileError(stage);
    }
    member->start = window;
    member->source = OpenAndAdvancePast(window, stage, member->outcome.status);
    if (member->source != kNoFile) pool.Submit(member->task);
    in_flight.push_back(std::move(member));
    while (!in_flight.empty() && (in_flight.size() >= kMembersInFlight || i + 1 == build_run.count))
      RecordOldest(pool, in_flight, copy_buffer);
  }
}

void DeleteTemporaryFiles() {
  Progress("Deleting temporary files\n");
  for (const SpentTemp& spent : spent_temps) CloseFile(spent.file);
  spent_temps.clear();
  bool all_gone;
  {
    CleanupSignalBlock block;
    all_gone = RemoveMemberTemporaries(true);
  }
  // A run that leaves a file in the tree is a failed run: it replaces nothing.
  if (!all_gone) FatalExit(kExitFailure);
}

}  // namespace quiver
