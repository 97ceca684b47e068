#include "lzss_decoder.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>

#include "bit_reader.h"
#include "lzss_tokens.h"
#include "stream_format.h"

namespace quiver {
namespace {

// Six literal tokens in a row fill 54 bits; these are their flag bits.
constexpr int kSixLiteralsBits = 6 * kLiteralTokenBits;
constexpr std::uint64_t SixLiteralFlags() {
  std::uint64_t flags = 0;
  for (int i = 1; i <= 6; ++i)
    flags |= std::uint64_t{1} << (kSixLiteralsBits - 1 - kLiteralTokenBits * (i - 1));
  return flags;
}
constexpr std::uint64_t kSixLiteralFlags = SixLiteralFlags();
static_assert(kSixLiteralFlags == 0x20100804020100);
// Behind the output span: every token starts before the flush point, so
// none writes further past it than this.
constexpr int kOutputSlack = kCopyWidth;
// A token that starts this far before the member's end, or before the
// flush point, fits: no check is needed but for the end token.
constexpr int kSafeDistance = kMaxMatchLength;
// A refill leaves at least 56 bits, three tokens' worth.
constexpr int kTokensPerRefill = 3;
// Output is handed on in pieces of up to 1 MiB: few large writes for a
// large member, a small buffer for a small one.
constexpr std::int64_t kMaxOutputSpan = 1 << 20;
constexpr std::int64_t kMinOutputSpan = 1 << 12;

// Where output may go before the next flush. Tokens start before
// `flush_at`; `end` is the member's end where it comes first; tokens that
// start before `fast_end` need no check.
struct Span {
  std::uint8_t* start;
  std::uint8_t* flush_at;
  std::uint8_t* end;
  std::uint8_t* fast_end;
  std::uint8_t* buffer_end;
  std::int64_t flushed;  // member bytes handed on before `start`

  std::int64_t Produced(const std::uint8_t* out) const { return flushed + (out - start); }
};

// One token without a check, at a point that FastTokens has made safe;
// false at the end token.
[[gnu::always_inline]] inline bool FastToken(BitReader& reader, std::uint8_t*& out,
                                             const Span& span) {
  assert(out < span.fast_end && out + kCopyWidth <= span.buffer_end);
  bool going = true;
  reader.SkipUnchecked(DecodeToken(
      reader.PeekUnchecked(kMaxTokenBits), [&out](std::uint8_t byte) { *out++ = byte; },
      [&out, &span](int position, int length) {
        out = PutMatch(out, span.Produced(out), position, length);
      },
      [&going] { going = false; }));
  return going;
}

// Tokens while 8 bytes of input are at hand and each starts before
// span.fast_end; false at the end token.
bool FastTokens(BitReader& reader, std::uint8_t*& out, const Span& span) {
  std::uint8_t* const batch_end = span.fast_end - (kTokensPerRefill - 1) * kSafeDistance;
  while (out < batch_end && reader.HasWord()) {
    reader.RefillWordUnchecked();
    // Data that does not compress is nearly all literals: six of them fill
    // the bits at hand and need no chain of shifts.
    const std::uint64_t six = reader.PeekWideUnchecked(kSixLiteralsBits);
    if ((six & kSixLiteralFlags) == kSixLiteralFlags) {
      for (int i = 0; i < 6; ++i)
        out[i] = static_cast<std::uint8_t>(six >> (kSixLiteralsBits - kLiteralTokenBits * (i + 1)));
      out += 6;
      reader.SkipUnchecked(kSixLiteralsBits);
      continue;
    }
    for (int i = 0; i < kTokensPerRefill; ++i)
      if (!FastToken(reader, out, span)) return false;
  }
  while (out < span.fast_end && reader.HasWord()) {
    reader.RefillWordUnchecked();
    if (!FastToken(reader, out, span)) return false;
  }
  return true;
}

using Step = SpanDecoder::Step;

// One token with every check, where the input runs short (its refill moves
// on to the next piece of input) or near the member's end: it is written
// only once its bits are known to be there and its bytes to fit.
Step CheckedToken(BitReader& reader, std::uint8_t*& out, const Span& span) {
  int length = 0;
  int position = 0;
  std::uint8_t byte = 0;
  reader.SkipBits(DecodeToken(
      reader.PeekBits(kMaxTokenBits),
      [&](std::uint8_t literal) {
        length = 1;
        byte = literal;
      },
      [&](int match_position, int match_length) {
        position = match_position;
        length = match_length;
      },
      [] {}));
  if (reader.overrun()) return Step::kStopped;
  if (length == 0) return Step::kEnded;
  if (span.end - out < length) return Step::kStopped;
  if (position == kEndPosition)
    *out++ = byte;
  else
    out = PutMatch(out, span.Produced(out), position, length);
  return Step::kGoOn;
}

// Tokens up to the span's flush point; at the member's end, its end token
// too, so the step says whether the member is whole.
Step DecodeSpan(BitReader& reader, std::uint8_t*& out, const Span& span) {
  while (out < span.flush_at) {
    if (!FastTokens(reader, out, span)) return Step::kEnded;
    if (out >= span.flush_at) break;
    const Step step = CheckedToken(reader, out, span);
    if (step != Step::kGoOn) return step;
  }
  // No token fits here: the end token, or the stream is damaged.
  if (out == span.end) return CheckedToken(reader, out, span);
  return Step::kGoOn;
}

}  // namespace

// The output buffer keeps the last 4096 bytes before the span, so a match
// copies from the buffer itself; those history bytes start as zeros, the
// window's contents before a member's first byte.
SpanDecoder::SpanDecoder(std::int64_t limit, std::int64_t span_size)
    : limit_(limit),
      span_(std::clamp(limit, kMinOutputSpan, span_size)),
      buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(
          static_cast<std::size_t>(kWindowSize + span_ + kOutputSlack))),
      cursor_(start()) {}

void SpanDecoder::Start(ByteSource& source) {
  std::memset(buffer_.get(), 0, kWindowSize);
  cursor_ = start();
  flushed_ = 0;
  reader_.emplace(source);
}

void SpanDecoder::Start(ByteSource& source, std::int64_t limit) {
  limit_ = limit;
  Start(source);
}

void SpanDecoder::Resume(ByteSource& source, const DecoderCheckpoint& checkpoint) {
  std::memcpy(buffer_.get(), checkpoint.history, kWindowSize);
  cursor_ = start();
  flushed_ = checkpoint.produced;
  reader_.emplace(source, checkpoint.bit_position / 8);
  if (const int bits = static_cast<int>(checkpoint.bit_position % 8); bits != 0)
    reader_->InputBits(bits);
}

SpanDecoder::Step SpanDecoder::Next() {
  // The span before goes; its last 4096 bytes stay as history.
  if (cursor_ != start()) {
    flushed_ += cursor_ - start();
    std::memmove(buffer_.get(), cursor_ - kWindowSize, kWindowSize);
    cursor_ = start();
  }
  Span span;
  span.start = start();
  span.flush_at = span.start + span_;
  span.buffer_end = span.flush_at + kOutputSlack;
  span.flushed = flushed_;
  span.end =
      limit_ - flushed_ < span_ + kOutputSlack ? span.start + (limit_ - flushed_) : span.buffer_end;
  span.fast_end =
      span.end - span.flush_at >= kSafeDistance ? span.flush_at : span.end - kSafeDistance;
  // Locals the compiler can keep in registers: `out` and the reader's
  // fields would otherwise be reloaded after every byte written.
  BitReader reader = *reader_;
  std::uint8_t* out = cursor_;
  const Step step = DecodeSpan(reader, out, span);
  reader_.emplace(reader);
  cursor_ = out;
  return step;
}

void SpanDecoder::Save(DecoderCheckpoint& checkpoint) const {
  checkpoint.bit_position = reader_->BitPosition();
  checkpoint.produced = produced();
  std::memcpy(checkpoint.history, cursor_ - kWindowSize, kWindowSize);
}

DecodeResult LzssDecoder(ByteSource& source, std::int64_t limit, ByteSink& sink) {
  DecodeResult result;
  SpanDecoder decoder(limit, kMaxOutputSpan);
  decoder.Start(source);
  SpanDecoder::Step step = SpanDecoder::Step::kGoOn;
  while (step == SpanDecoder::Step::kGoOn) {
    step = decoder.Next();
    const std::span<const std::uint8_t> bytes = decoder.bytes();
    if (!bytes.empty() && !sink.Write(bytes.data(), bytes.size())) {
      result.write_failed = true;
      return result;
    }
  }
  result.produced = decoder.produced();
  result.complete = step == SpanDecoder::Step::kEnded;
  return result;
}

}  // namespace quiver
