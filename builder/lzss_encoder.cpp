#include "lzss_encoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "bit_file.h"
#include "block_encoder.h"
#include "memory_coder.h"
#include "worker_pool.h"

namespace quiver {
namespace {

// The member read whole, and one byte more to tell that it grew.
CompressStatus ReadWhole(FileHandle source, std::int64_t expected_length,
                         std::vector<std::uint8_t>& bytes) {
  bytes.resize(static_cast<std::size_t>(expected_length) + 1);
  const std::int64_t got = ReadFull(source, bytes.data(), bytes.size());
  if (got < 0) return CompressStatus::kSourceUnreadable;
  if (got != expected_length) return CompressStatus::kSourceChanged;
  bytes.pop_back();
  return CompressStatus::kOk;
}

CompressStatus EncodeInOnePass(const EncoderWindow& start, FileHandle source,
                               std::int64_t expected_length, BitFile& bits) {
  std::vector<std::uint8_t> bytes;
  const CompressStatus status = ReadWhole(source, expected_length, bytes);
  if (status != CompressStatus::kOk) return status;
  std::uint8_t past_end[kLookAheadSize - 1];
  WindowBytesPastEnd(start, bytes.data(), expected_length, past_end);
  EncodeMemberInMemory({bytes.data(), expected_length, past_end}, bits);
  return CompressStatus::kOk;
}

}  // namespace

void AdvanceWindow(EncoderWindow& window, const std::uint8_t* tail, std::size_t tail_size,
                   std::int64_t length) {
  // Only the last window's worth lands; it wraps around the ring at most once.
  const std::size_t size = std::min<std::size_t>(tail_size, kWindowSize);
  if (size == 0) return;
  const std::uint8_t* bytes = tail + (tail_size - size);
  const auto position =
      static_cast<std::size_t>(PositionOfOffset(length - static_cast<std::int64_t>(size)));
  const std::size_t head = std::min(size, kWindowSize - position);
  std::memcpy(window.bytes + position, bytes, head);
  std::memcpy(window.bytes, bytes + head, size - head);
}

void WindowBytesPastEnd(const EncoderWindow& start, const std::uint8_t* member, std::int64_t length,
                        std::uint8_t* past_end) {
  for (std::int64_t offset = length; offset < length + kLookAheadSize - 1; ++offset)
    past_end[offset - length] = offset >= kWindowSize ? member[offset - kWindowSize]
                                                      : start.bytes[PositionOfOffset(offset)];
}

CompressOutcome CompressMember(const EncoderWindow& start, FileHandle source, FileHandle temp,
                               std::int64_t expected_length, WorkerPool& pool,
                               std::int64_t block_size, std::atomic<std::int64_t>* progress) {
  auto bits = std::make_unique<BitFile>(temp);
  // The member must be the same file, unchanged, once all of it is read.
  FileStatus before;
  const bool known = StatusOf(source, before);
  const bool in_blocks = expected_length >= kBlocksAtLeast * block_size;
  CompressStatus status = CompressStatus::kOk;
  if (bits->failure().empty())
    status = in_blocks ? EncodeInBlocks(source, expected_length, *bits, block_size, pool, progress)
                       : EncodeInOnePass(start, source, expected_length, *bits);
  FileStatus after;
  if (status == CompressStatus::kOk &&
      (!known || !StatusOf(source, after) || !SameFileState(before, after)))
    status = CompressStatus::kSourceModified;
  bits->Finish();
  CloseFile(source);
  if (!bits->failure().empty()) return {CompressStatus::kWriteFailed, 0, bits->failure(), {}};
  if (status != CompressStatus::kOk) return {status, 0, {}, {}};
  const std::int64_t length = bits->file_length();
  if (length < 0 || length > 0x7FFFFFFF) return {CompressStatus::kTempUnreadable, 0, {}, {}};
  CompressOutcome outcome{CompressStatus::kOk, static_cast<std::int32_t>(length), {}, {}};
  if (bits->whole_size() == static_cast<std::size_t>(length))
    outcome.stream.assign(bits->whole_stream(), bits->whole_stream() + length);
  return outcome;
}

}  // namespace quiver
