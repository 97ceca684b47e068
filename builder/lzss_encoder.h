// LZSS whose matches are those a binary-search-tree match finder over the
// stream's ring window would choose. The window carries over from member to
// member, so the bytes a stream holds depend on the members compressed
// before it: each member is coded from the window that the members before
// it leave (EncoderWindow), which lets members be coded side by side with
// the bytes of a run in order.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"
#include "stream_format.h"

namespace quiver {

class WorkerPool;

enum class CompressStatus {
  kOk,
  kSourceUnreadable,  // could not be opened, is not a regular file, or a read failed
  kSourceChanged,     // held another number of bytes than expected
  kSourceModified,    // its bytes changed while it was being read
  kTempUnreadable,    // the finished stream's length could not be taken
  kWriteFailed,       // the stream could not be written; see failure
};

struct CompressOutcome {
  CompressStatus status;
  std::int32_t length;  // of the stream, when status is kOk
  std::string failure;  // the write failure's message, for ReportError
  // The whole stream when it is short enough to keep, so that it need not
  // be read back from the temporary file; else empty.
  std::vector<std::uint8_t> stream;
};

// What a window holds between members; zeros before a run's first member.
struct EncoderWindow {
  std::uint8_t bytes[kWindowSize] = {};
};

// The window a member of `length` bytes leaves on top of `window`, from its
// last `tail_size` bytes (all of them, or at least its last 4096).
void AdvanceWindow(EncoderWindow& window, const std::uint8_t* tail, std::size_t tail_size,
                   std::int64_t length);

// All a member's stream depends on besides its own bytes: its last strings
// compare 16 bytes past its end, at offsets length to length + 15, which
// hold what the window `start` has at their positions (PositionOfOffset)
// below offset 4096 and the member's own bytes from 4096 on. So a member
// reads at most 16 bytes of the window, none from 4096 bytes on. Fills
// `past_end` with those 16 bytes, from all of the member's bytes.
void WindowBytesPastEnd(const EncoderWindow& start, const std::uint8_t* member, std::int64_t length,
                        std::uint8_t* past_end);

// How many bytes past its end a member of `length` bytes reads from the
// window it starts from: its coding context, the same stream for the same
// bytes wherever these agree.
inline int WindowBytesRead(std::int64_t length) {
  return length >= kWindowSize
             ? 0
             : static_cast<int>(std::min<std::int64_t>(kLookAheadSize - 1, kWindowSize - length));
}

// A member of at least kBlockThreshold bytes is coded in blocks, on any
// number of threads, as sorting costs less than the match tree even on one;
// its stream stays the same. A block's
// records (4 bytes a byte) stay within the second-level cache of the thread
// that reads them after another wrote them.
inline constexpr std::int64_t kBlockSize = 128 << 10;
inline constexpr std::int64_t kBlocksAtLeast = 8;
inline constexpr std::int64_t kBlockThreshold = kBlocksAtLeast * kBlockSize;

// Compresses the `expected_length` bytes of the member open at `source`
// (at its start) into the new, empty temporary file `temp`, from the window
// `start`, and closes the member; `temp` stays open. In one pass on the calling thread, or in
// blocks of `block_size` bytes (at least 8192) on the pool when the member has at least
// kBlocksAtLeast of them. Calls may run on several threads at once. A write failure is returned as
// kWriteFailed.
// `progress`, where given, follows the bytes coded so far of a member coded
// in blocks.
CompressOutcome CompressMember(const EncoderWindow& start, FileHandle source, FileHandle temp,
                               std::int64_t expected_length, WorkerPool& pool,
                               std::int64_t block_size = kBlockSize,
                               std::atomic<std::int64_t>* progress = nullptr);

}  // namespace quiver
