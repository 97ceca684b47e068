#include "compression_stage.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>

#include "lzss_encoder.h"
#include "member_path.h"
#include "temp_path.h"

namespace quiver {

std::int64_t CompressionRatio(std::int64_t compressed, std::int64_t original) {
  if (original == 0) return 0;
  return 100 - compressed * 100 / original;
}

void CompressMembers() {
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    TocEntry& entry = build_run.toc[i];
    StageEntry& stage = build_run.stage[i];
    std::string temp = MapMemberPath(MakeTempPath(stage.source_path).c_str());
    {
      SignalBlock block;
      if (!CreateExclusiveFile(temp, stage.temp_path, sizeof stage.temp_path)) {
        std::printf("Unable to create temporary file %s\n", temp.c_str());
        FatalExit(kExitFailure);
      }
      stage.temp_created = 1;
    }
    CompressOutcome outcome =
        CompressMember(MapMemberPath(entry.name).c_str(), stage.temp_path, stage.original_length);
    switch (outcome.status) {
      case CompressStatus::kOk:
        break;
      case CompressStatus::kSourceUnreadable:
        std::printf("Unable to read %s for compression\n", entry.name);
        FatalExit(kExitFailure);
      case CompressStatus::kSourceChanged:
        std::printf("%s changed length during compression\n", entry.name);
        FatalExit(kExitFailure);
      case CompressStatus::kTempUnreadable:
        std::printf("Unable to measure temporary file %s\n", stage.temp_path);
        FatalExit(kExitFailure);
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
}

void ChooseCopySource(const StageEntry& stage, std::string& path, std::int64_t& expected) {
  if (!build_run.compress || (build_run.smallest && stage.compressed_length == 0)) {
    path = MapMemberPath(stage.source_path);
    expected = stage.original_length;
  } else {
    path = stage.temp_path;
    expected = stage.compressed_length;
  }
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
