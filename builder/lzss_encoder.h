// LZSS with a binary-search-tree match finder over a 4096-byte ring window.
// Tokens: literal (1, 8-bit byte), match (0, 12-bit position, 4-bit length
// minus 2), end (0, 12 zero bits). A member's first byte goes to position 1.
// The window lives for the whole run and carries over from member to member,
// so the bytes a stream holds depend on the members compressed before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quiver {

inline constexpr int kWindowSize = 4096;
inline constexpr int kPositionMask = 0xFFF;
inline constexpr int kLookAheadSize = 17;
inline constexpr int kMinMatchLength = 2;
inline constexpr int kRootAnchor = 4096;
inline constexpr int kNoNode = 0;

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
};

// What a window holds between members.
struct EncoderWindow {
  std::uint8_t bytes[kWindowSize] = {};
};

// Compresses the file at source_path into a stream at temp_path (created or
// truncated). With expected_length >= 0 the source must hold exactly that many
// bytes. Write failures end the run through ReportError.
CompressOutcome CompressMember(const char* source_path, const char* temp_path,
                               std::int64_t expected_length);

// CompressMember on files the caller opened: the source at its start and
// the new, empty temporary file, both closed on return. A write failure is
// returned as kWriteFailed instead of ending the run.
CompressOutcome CompressOpenMember(int source_fd, int temp_fd, std::int64_t expected_length);

// Back to the state of program start: a zero window. For tests and benchmarks
// that need each stream to be that of a first member.
void ResetEncoderWindow();

// The window a member of `length` bytes leaves on top of `window`, from its
// last `tail_size` bytes (all of them, or at least its last 4096): members
// can then be compressed side by side with the bytes of a run in order.
void AdvanceWindow(EncoderWindow& window, const std::uint8_t* tail, std::size_t tail_size,
                   std::int64_t length);

// The window and match tree of one coder.
struct EncoderState;

// CompressMember from the window `start`, in the caller's coder state, so
// that calls with states of their own may run on several threads at once;
// on files the caller opened (the source at its start, the new, empty
// temporary file), which it closes. A write failure is returned as
// kWriteFailed instead of ending the run.
CompressOutcome CompressMemberFrom(EncoderState& state, const EncoderWindow& start, int source_fd,
                                   int temp_fd, std::int64_t expected_length);

// A member of at least kBlockThreshold bytes is coded in blocks of
// kBlockSize on two threads when there are two cores; its stream stays the
// same.
inline constexpr std::int64_t kBlockSize = 256 << 10;
inline constexpr std::int64_t kBlockThreshold = 4 * kBlockSize;

// CompressMemberFrom, coded in blocks of `block_size` bytes (at least 8192)
// on `workers` threads whatever the member's length, which must be given.
CompressOutcome CompressMemberInBlocks(EncoderState& state, const EncoderWindow& start,
                                       int source_fd, int temp_fd, std::int64_t expected_length,
                                       std::int64_t block_size, int workers);

}  // namespace quiver
