// Reads of a compressed member at any position, decoding as it goes. It
// decodes span by span and keeps a checkpoint each kCheckpointInterval bytes
// of output the first time it passes there, so going back costs at most an
// interval's decoding, and going on decodes from wherever is nearest.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "archive_table.h"
#include "lzss_decoder.h"
#include "quiver/reader.h"

namespace quiver {

inline constexpr std::int64_t kCheckpointInterval = 1 << 20;
inline constexpr std::int64_t kStreamSpan = 1 << 16;

class CompressedReader {
 public:
  // The member's stream is `stored_length` bytes at `offset` of `bytes`,
  // which must outlive the reader; `name` is for messages.
  CompressedReader(const ArchiveBytes& bytes, std::int64_t offset, std::int64_t stored_length,
                   std::int64_t original_length, std::string name);

  // Exactly `size` bytes at `position`, all within the member, or the
  // error that Archive::Read gives for the member.
  Status Read(std::int64_t position, std::uint8_t* out, std::size_t size);
  // A member of no bytes has nothing to read, yet its stream may be damaged:
  // the error Archive::Read gives, or none.
  Status CheckEmpty();

 private:
  // Makes the span at hand hold `position`.
  Status Reach(std::int64_t position);
  // From the checkpoint at `checkpoint`, or from the start when it is
  // the end of checkpoints_.
  void Restart(std::deque<DecoderCheckpoint>::const_iterator checkpoint);
  // The next span; an error leaves no span at hand.
  Status Advance();
  std::int64_t SpanEnd() const { return decoder_.produced(); }

  const ArchiveBytes& bytes_;
  const std::int64_t offset_;
  const std::int64_t stored_length_;
  const std::int64_t original_length_;
  const std::string name_;
  SpanDecoder decoder_;
  std::unique_ptr<ByteSource> source_;
  bool at_hand_ = false;  // the decoder holds a span, from span_start_
  bool ended_ = false;    // that span is the member's last
  std::int64_t span_start_ = 0;
  std::deque<DecoderCheckpoint> checkpoints_;  // in order of output
  // Output from here on cannot be had: the stream is damaged there.
  std::int64_t damaged_from_;
};

}  // namespace quiver
