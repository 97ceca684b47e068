// LZSS with a binary-search-tree match finder over a 4096-byte ring window.
// Tokens: literal (1, 8-bit byte), match (0, 12-bit position, 4-bit length
// minus 2), end (0, 12 zero bits). A member's first byte goes to position 1.
// The window lives for the whole run and carries over from member to member,
// so the bytes a stream holds depend on the members compressed before it.
#pragma once

#include <cstdint>

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
  kTempUnreadable,    // the finished stream's length could not be taken
};

struct CompressOutcome {
  CompressStatus status;
  std::int32_t length;  // of the stream, when status is kOk
};

// Compresses the file at source_path into a stream at temp_path (created or
// truncated). With expected_length >= 0 the source must hold exactly that many
// bytes. Write failures end the run through ReportError.
CompressOutcome CompressMember(const char* source_path, const char* temp_path,
                               std::int64_t expected_length);

// Back to the state of program start: a zero window. For tests and benchmarks
// that need each stream to be that of a first member.
void ResetEncoderWindow();

}  // namespace quiver
