#include "compression_stage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bit_file.h"
#include "file_io.h"
#include "lzss_encoder.h"
#include "match_tree.h"
#include "member_path.h"
#include "temp_path.h"

namespace quiver {

std::int64_t CompressionRatio(std::int64_t compressed, std::int64_t original) {
  if (original == 0) return 0;
  return 100 - compressed * 100 / original;
}

namespace {

// Creates the member's temporary file, never over an existing file, and
// returns it open for writing; -1 when no name beside the member can be
// created.
int CreateTempFile(StageEntry& stage) {
  std::string temp = MapMemberPath(MakeTempPath(stage.source_path).c_str());
  SignalBlock block;
  int fd = CreateExclusiveFile(temp, stage.temp_path, sizeof stage.temp_path);
  if (fd >= 0) stage.temp_created = 1;
  return fd;
}

// The stream's file cannot be opened: a failure of the bit output stream,
// reported as such, with the temporary name as the member's is written.
[[noreturn]] void TempFileError(const StageEntry& stage) {
  ReportError("BitFile::BitFile unable to open temporary file %s.",
              MakeTempPath(stage.source_path).c_str());
}

// Reports one member's compression, in response-file order.
void RecordCompression(std::int32_t i, const CompressOutcome& outcome) {
  TocEntry& entry = build_run.toc[i];
  StageEntry& stage = build_run.stage[i];
  switch (outcome.status) {
    case CompressStatus::kOk:
      break;
    case CompressStatus::kSourceUnreadable:
      std::printf("Unable to read %s for compression\n", entry.name);
      FatalExit(kExitFailure);
    case CompressStatus::kSourceChanged:
      std::printf("%s changed length during compression\n", entry.name);
      FatalExit(kExitFailure);
    case CompressStatus::kSourceModified:
      std::printf("%s changed during compression\n", entry.name);
      FatalExit(kExitFailure);
    case CompressStatus::kTempUnreadable:
      std::printf("Unable to measure temporary file %s\n", stage.temp_path);
      FatalExit(kExitFailure);
    case CompressStatus::kWriteFailed:
      ReportError("%s", outcome.failure.c_str());
  }
  entry.compressed_length = outcome.length;
  stage.compressed_length = outcome.length;
  std::int64_t ratio = CompressionRatio(outcome.length, stage.original_length);
  if (build_run.smallest && ratio <= 0) {
    std::printf("%s logged - %x %i %i %" PRId64 "%% - storing uncompressed\n", entry.name,
                entry.crc, stage.original_length, outcome.length, ratio);
    build_run.compressed_total += stage.original_length;
    entry.compressed_length = 0;
    stage.compressed_length = 0;
  } else {
    std::printf("%s logged - %x %i %i %" PRId64 "%%\n", entry.name, entry.crc,
                stage.original_length, outcome.length, ratio);
    build_run.compressed_total += outcome.length;
  }
}

// The member open at its start for its compression, or -1.
int OpenMember(const StageEntry& stage) {
  struct stat st;
  return OpenRegularFile(MapMemberPath(stage.source_path).c_str(), st);
}

// Opens a member and moves `window` past it from its last bytes; returns
// the member open at its start for its compression, or -1 when it cannot
// be opened or those bytes cannot be read.
int OpenAndAdvancePast(EncoderWindow& window, const StageEntry& stage) {
  int fd = OpenMember(stage);
  if (fd < 0) return -1;
  std::int64_t length = stage.original_length;
  std::size_t tail = static_cast<std::size_t>(std::min<std::int64_t>(length, kWindowSize));
  std::uint8_t bytes[kWindowSize];
  if (ReadFullAt(fd, bytes, tail, static_cast<off_t>(length - tail)) !=
      static_cast<ssize_t>(tail)) {
    ::close(fd);
    return -1;
  }
  AdvanceWindow(window, bytes, tail, length);
  return fd;
}

// Two workers compress members side by side, each from the window that the
// members before it leave, so every stream is the one a single coder going
// through the members in order would write.
class CompressionWorkers {
 public:
  struct Task {
    std::int32_t index;
    int source_fd;
    int temp_fd;
    EncoderWindow start;
    CompressOutcome outcome{CompressStatus::kOk, 0, {}};
    bool done = false;
  };

  explicit CompressionWorkers(int count) {
    // The workers inherit a mask without the clean-up signals, so those
    // always reach the main thread, whose SignalBlock then holds them off
    // while it creates and records a file.
    SignalBlock block;
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~CompressionWorkers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  void Submit(Task* task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(task);
    }
    wake_.notify_all();
  }

  void Finish(Task* task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      task->done = true;
    }
    wake_.notify_all();
  }

  void Wait(const Task& task) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [&task] { return task.done; });
  }

 private:
  void Work() {
    // One coder state per worker, for all its members.
    auto state = std::make_unique<EncoderState>();
    for (;;) {
      Task* task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) return;
        task = queue_.front();
        queue_.pop_front();
      }
      CompressOutcome outcome =
          CompressMemberFrom(*state, task->start, task->source_fd, task->temp_fd,
                             build_run.stage[task->index].original_length);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        task->outcome = std::move(outcome);
      }
      Finish(task);
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task*> queue_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

void CompressSideBySide(int workers) {
  CompressionWorkers pool(workers);
  std::deque<std::unique_ptr<CompressionWorkers::Task>> in_flight;
  EncoderWindow window;
  // Members are reported in order, as one coder would report them.
  auto record_oldest = [&] {
    pool.Wait(*in_flight.front());
    RecordCompression(in_flight.front()->index, in_flight.front()->outcome);
    in_flight.pop_front();
  };
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    StageEntry& stage = build_run.stage[i];
    auto task = std::make_unique<CompressionWorkers::Task>();
    task->index = i;
    task->temp_fd = CreateTempFile(stage);
    if (task->temp_fd < 0) {
      while (!in_flight.empty()) record_oldest();
      TempFileError(stage);
    }
    task->start = window;
    task->source_fd = OpenAndAdvancePast(window, stage);
    if (task->source_fd >= 0) {
      pool.Submit(task.get());
    } else {
      ::close(task->temp_fd);
      task->outcome.status = CompressStatus::kSourceUnreadable;
      task->done = true;
    }
    in_flight.push_back(std::move(task));
    while (!in_flight.empty() && (in_flight.size() >= kMembersInFlight || i + 1 == build_run.count))
      record_oldest();
  }
}

}  // namespace

void CompressMembers() {
  unsigned cores = std::thread::hardware_concurrency();
  if (build_run.count >= 2 && cores >= 2) {
    CompressSideBySide(2);
    return;
  }
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    StageEntry& stage = build_run.stage[i];
    int temp_fd = CreateTempFile(stage);
    if (temp_fd < 0) TempFileError(stage);
    int source_fd = OpenMember(stage);
    CompressOutcome outcome{CompressStatus::kSourceUnreadable, 0, {}};
    if (source_fd >= 0)
      outcome = CompressOpenMember(source_fd, temp_fd, stage.original_length);
    else
      ::close(temp_fd);
    RecordCompression(i, outcome);
  }
}

CopySource ChooseCopySource(const StageEntry& stage) {
  if (!build_run.compress || (build_run.smallest && stage.compressed_length == 0))
    return {MapMemberPath(stage.source_path), stage.source_path, stage.original_length};
  return {stage.temp_path, stage.temp_path, stage.compressed_length};
}

void ReportTotals() {
  if (!build_run.compress) {
    std::printf("\nTotal Data Size = %" PRId64 "\n\n", build_run.original_total);
    return;
  }
  std::printf("\n");
  std::printf("Totals - Original Size   = %" PRId64 "\n", build_run.original_total);
  std::printf("         Compressed Size = %" PRId64 "\n", build_run.compressed_total);
  std::printf("         Ratio           = %" PRId64 "%%\n\n",
              CompressionRatio(build_run.compressed_total, build_run.original_total));
  std::printf("Deleting temporary files\n");
  SignalBlock block;
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    StageEntry& stage = build_run.stage[i];
    if (stage.temp_created) {
      ::unlink(stage.temp_path);
      stage.temp_created = 0;
    }
  }
}

}  // namespace quiver
