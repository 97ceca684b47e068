// The builder's process-wide run state: what FatalExit and the clean-up
// signals consult to release the run's files.
#pragma once

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "archive_layout.h"
#include "large_array.h"
#include "platform.h"

namespace quiver {

struct StageEntry {
  char source_path[kNameSize];
  // File-system path of the member's temporary compressed file: the member's
  // path with "$" in its extension, or a variant of it when that is taken.
  char temp_path[kNameSize + 16];
  std::int32_t original_length;
  std::int32_t compressed_length;
  // The member file as measured: any change to it before its bytes are all
  // read ends the build.
  FileStatus measured;
  // Stored raw, its bytes already copied from the archive being replaced
  // (-u), where they were found equal to the member's as measured.
  bool raw_copied;
  // Set only once this run has created temp_path, so clean-up never removes a
  // file that belongs to someone else.
  volatile std::sig_atomic_t temp_created;
};

struct BuildRun {
  std::FILE* response_file = nullptr;
  FileHandle archive_file = kNoFile;
  LargeArray<TocEntry> toc;
  LargeArray<StageEntry> stage;
  std::int32_t count = 0;
  bool compress = false;
  bool smallest = false;
  bool update = false;               // -u: reuse the old archive's streams
  bool quiet = false;                // print failures only
  int threads = 0;                   // at most this many, or 0 for the processors
  bool response_from_input = false;  // @-: the response text on standard input
  bool response_open = false;
  bool archive_open = false;
  // Wider than the archive's fields: the sum of members under compression may
  // pass 2 GiB while the archive stays small.
  std::int64_t original_total = 0;
  std::int64_t compressed_total = 0;
  std::int32_t reused = 0;  // members whose old stream served, under -u
  // -u: the archive being replaced, open and as checked until the commit,
  // which keeps it when the new one holds the same bytes.
  FileHandle old_archive = kNoFile;
  FileStatus old_status;
  char dest_name[kNameSize] = {};
  char response_name[kNameSize] = {};
  // The archive is written under this name and renamed onto archive_target
  // only when complete.
  char archive_temp[PATH_MAX + 16] = {};
  volatile std::sig_atomic_t archive_temp_live = 0;
  // Set once the archive is in place: the build has succeeded, and a
  // clean-up signal no longer ends it.
  volatile std::sig_atomic_t committed = 0;
  char archive_target[PATH_MAX] = {};
};

extern BuildRun build_run;

// Whether the archive holds a member's own bytes rather than its stream:
// always without compression, and under -s when the stream did not shrink.
inline bool StoredRaw(const StageEntry& stage) {
  return !build_run.compress || stage.compressed_length == 0;
}

// Where the first member's bytes go: behind the header and the table.
inline std::int64_t DataStart() {
  return static_cast<std::int64_t>(kHeaderSize) +
         static_cast<std::int64_t>(kRecordSize) * build_run.count;
}

// Bytes the member occupies in the archive.
inline std::int64_t StoredLength(const StageEntry& stage) {
  return StoredRaw(stage) ? stage.original_length : stage.compressed_length;
}

}  // namespace quiver
