// Expands one compressed member. Safety promise: never reads past the end of
// its source, never writes more than `limit` bytes to its sink, and touches
// no memory outside its own window, whatever the stream holds.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "bit_reader.h"
#include "byte_stream.h"
#include "stream_format.h"

namespace quiver {

struct DecodeResult {
  std::int64_t produced = 0;
  // The stream ended with its end token within its bytes and within `limit`;
  // otherwise `produced` cannot be trusted.
  bool complete = false;
  // The sink refused bytes.
  bool write_failed = false;
};

// Each call starts from a zero window of its own, so calls are independent
// and may run on several threads at once.
DecodeResult LzssDecoder(ByteSource& source, std::int64_t limit, ByteSink& sink);

// Where decoding can start again: between two tokens, with the 4096 bytes
// before that point (zeros before the member's first byte).
struct DecoderCheckpoint {
  std::int64_t bit_position = 0;  // of the next token, from the stream's first bit
  std::int64_t produced = 0;      // member bytes before it
  std::uint8_t history[kWindowSize];
};

// The decoder behind LzssDecoder, one span of output at a time, with the
// same safety promise. Each Next decodes up to about `span_size` bytes; they
// stay valid until the next call. A span that reaches `limit` also reads
// the end token, so its step tells whether the member is complete.
class SpanDecoder {
 public:
  enum class Step { kGoOn, kEnded, kStopped };

  SpanDecoder(std::int64_t limit, std::int64_t span_size);

  // From the stream's first bit.
  void Start(ByteSource& source);
  // The same for another member, of `limit` bytes: one decoder made with
  // the largest limit serves member after member.
  void Start(ByteSource& source, std::int64_t limit);
  // From a checkpoint; `source` gives the stream from byte
  // checkpoint.bit_position / 8 on.
  void Resume(ByteSource& source, const DecoderCheckpoint& checkpoint);

  // After kEnded or kStopped, only Start or Resume.
  Step Next();
  std::span<const std::uint8_t> bytes() const { return {start(), cursor_}; }
  // Member bytes up to the end of bytes().
  std::int64_t produced() const { return flushed_ + (cursor_ - start()); }
  // The point at the end of bytes(), after a Next that gave kGoOn.
  void Save(DecoderCheckpoint& checkpoint) const;

 private:
  std::uint8_t* start() const { return buffer_.get() + kWindowSize; }

  std::int64_t limit_;
  const std::int64_t span_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint8_t* cursor_;
  std::int64_t flushed_ = 0;  // member bytes before start()
  std::optional<BitReader> reader_;
};

}  // namespace quiver
