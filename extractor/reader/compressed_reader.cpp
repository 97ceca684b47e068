#include "compressed_reader.h"

#include <algorithm>
#include <cstring>

#include "shown_name.h"

namespace quiver {

CompressedReader::CompressedReader(const ArchiveBytes& bytes, std::int64_t offset,
                                   std::int64_t stored_length, std::int64_t original_length,
                                   std::string name)
    : bytes_(bytes),
      offset_(offset),
      stored_length_(stored_length),
      original_length_(original_length),
      name_(std::move(name)),
      decoder_(original_length, kStreamSpan),
      damaged_from_(INT64_MAX) {}

Status CompressedReader::Read(std::int64_t position, std::uint8_t* out, std::size_t size) {
  while (size > 0) {
    if (Status status = Reach(position); !status) return status;
    const std::span<const std::uint8_t> span = decoder_.bytes();
    const auto skip = static_cast<std::size_t>(position - span_start_);
    const std::size_t count = std::min(size, span.size() - skip);
    std::memcpy(out, span.data() + skip, count);
    out += count;
    size -= count;
    position += static_cast<std::int64_t>(count);
  }
  return {};
}

Status CompressedReader::CheckEmpty() {
  if (damaged_from_ == 0)
    return {Status::Code::kDecompression, "damaged stream in " + ShownName(name_)};
  Restart(checkpoints_.end());
  return Advance();
}

Status CompressedReader::Reach(std::int64_t position) {
  if (position >= damaged_from_)
    return {Status::Code::kDecompression, "damaged stream in " + ShownName(name_)};
  if (at_hand_ && span_start_ <= position && position < SpanEnd()) return {};
  // The last checkpoint at or before `position`.
  auto after =
      std::upper_bound(checkpoints_.begin(), checkpoints_.end(), position,
                       [](std::int64_t p, const DecoderCheckpoint& c) { return p < c.produced; });
  const bool has_checkpoint = after != checkpoints_.begin();
  const bool going_on = at_hand_ && span_start_ <= position && !ended_;
  if (!going_on || (has_checkpoint && std::prev(after)->produced > SpanEnd()))
    Restart(has_checkpoint ? std::prev(after) : checkpoints_.end());
  while (SpanEnd() <= position) {
    // A member whose stream ends early never gets this far: Advance has
    // reported it.
    if (ended_) return {Status::Code::kDecompression, "damaged stream in " + ShownName(name_)};
    if (Status status = Advance(); !status) return status;
  }
  return {};
}

void CompressedReader::Restart(std::deque<DecoderCheckpoint>::const_iterator checkpoint) {
  if (checkpoint == checkpoints_.end()) {
    source_ = ArchiveRange(bytes_, offset_, stored_length_);
    decoder_.Start(*source_);
  } else {
    const std::int64_t skip = checkpoint->bit_position / 8;
    source_ = ArchiveRange(bytes_, offset_ + skip, stored_length_ - skip);
    decoder_.Resume(*source_, *checkpoint);
  }
  at_hand_ = true;
  ended_ = false;
  span_start_ = decoder_.produced();
}

Status CompressedReader::Advance() {
  span_start_ = SpanEnd();
  const SpanDecoder::Step step = decoder_.Next();
  // The order of Archive::Read: a read error before a damaged stream.
  if (source_->failed()) {
    at_hand_ = false;
    return {Status::Code::kReadFailed, "cannot read " + ShownName(name_)};
  }
  if (step == SpanDecoder::Step::kStopped ||
      (step == SpanDecoder::Step::kEnded && SpanEnd() != original_length_)) {
    at_hand_ = false;
    damaged_from_ = std::min(damaged_from_, span_start_);
    return {Status::Code::kDecompression, "damaged stream in " + ShownName(name_)};
  }
  ended_ = step == SpanDecoder::Step::kEnded;
  const std::int64_t last = checkpoints_.empty() ? 0 : checkpoints_.back().produced;
  if (!ended_ && SpanEnd() - last >= kCheckpointInterval) {
    checkpoints_.emplace_back();
    decoder_.Save(checkpoints_.back());
  }
  return {};
}

}  // namespace quiver
