// One member on its way through the compression stage (compression_stage.cpp),
// from its reading to its report.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "lzss_encoder.h"
#include "platform.h"
#include "stream_format.h"
#include "worker_pool.h"

namespace quiver {

// A short one is read whole and coded with the short members around it,
// its stream kept in memory until it is recorded; a longer one is coded
// alone from its open file into its temporary file.
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
  // bytes past its end. Reused: the window's bytes at the positions past
  // its end, all of the window its coding would read should its old
  // stream fail it.
  std::vector<std::uint8_t> bytes;
  std::uint8_t past_end[kLookAheadSize - 1] = {};
  CompressOutcome outcome{CompressStatus::kSourceUnreadable, 0, {}, {}};
};

}  // namespace quiver
