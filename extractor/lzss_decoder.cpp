#include "lzss_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "bit_reader.h"

namespace quiver {
namespace {

constexpr int kWindowSize = 4096;
constexpr int kPositionMask = 0xFFF;
constexpr int kMaxMatch = 17;
// The flag bits of six literal tokens in a row, read as 54 bits.
constexpr std::uint64_t kSixLiteralFlags = 0x20100804020100;
// Output is handed on in pieces of up to 1 MiB: few large writes for a
// large member, a small buffer for a small one.
constexpr std::int64_t kMaxOutputSpan = 1 << 20;
constexpr std::int64_t kMinOutputSpan = 1 << 12;

// Output goes to a buffer that keeps the last 4096 bytes before the
// unflushed ones, so a match copies from the buffer itself; those history
// bytes start as zeros, the window's contents before a member's first byte.
class OutputWindow {
 public:
  OutputWindow(ByteSink& sink, std::int64_t limit)
      : sink_(sink),
        span_(static_cast<std::size_t>(std::clamp(limit, kMinOutputSpan, kMaxOutputSpan))),
        // Slack past the span: a token that starts before the flush point
        // may write up to 24 bytes.
        buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kWindowSize + span_ + 32)),
        cursor_(buffer_.get() + kWindowSize) {
    std::memset(buffer_.get(), 0, kWindowSize);
  }

  std::uint8_t* start() { return buffer_.get() + kWindowSize; }
  std::uint8_t* flush_point() { return start() + span_; }
  std::uint8_t* cursor() { return cursor_; }
  void Advance(std::uint8_t* cursor) { cursor_ = cursor; }

  bool Flush() {
    bool ok =
        cursor_ == start() || sink_.Write(start(), static_cast<std::size_t>(cursor_ - start()));
    std::memmove(buffer_.get(), cursor_ - kWindowSize, kWindowSize);
    cursor_ = start();
    return ok;
  }

 private:
  ByteSink& sink_;
  std::size_t span_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint8_t* cursor_;
};

// Copies a match of at most 17 bytes that starts `distance` bytes back, as
// if byte by byte, so an overlapping source repeats itself. Writes up to 24
// bytes; those past the match are overwritten by the tokens after it.
[[gnu::always_inline]] inline void CopyMatch(std::uint8_t* dst, int distance, int length) {
  const std::uint8_t* src = dst - distance;
  if (distance >= 24) {
    std::memcpy(dst, src, 8);
    std::memcpy(dst + 8, src + 8, 8);
    std::memcpy(dst + 16, src + 16, 8);
    return;
  }
  if (distance >= 8) {
    // Only the chunks the match needs: here a later chunk reads what an
    // earlier one has just written, and such a read waits for the write.
    std::memcpy(dst, src, 8);
    if (length <= 8) return;
    std::memcpy(dst + 8, src + 8, 8);
    if (length <= 16) return;
    std::memcpy(dst + 16, src + 16, 8);
    return;
  }
  for (int i = 0; i < 8; ++i) dst[i] = dst[i - distance];
  if (length <= 8) return;
  // From its 8th byte on the match repeats with a period that is a multiple
  // of the distance and at least 8.
  static constexpr int kPeriod[8] = {0, 8, 8, 9, 8, 10, 12, 14};
  const int period = kPeriod[distance];
  std::memcpy(dst + 8, dst + 8 - period, 8);
  std::memcpy(dst + 16, dst + 16 - period, 8);
}

}  // namespace

DecodeResult LzssDecoder(ByteSource& source, std::int64_t limit, ByteSink& sink) {
  DecodeResult result;
  OutputWindow output(sink, limit);
  BitReader reader(source);
  std::int64_t flushed = 0;
  bool ended = false;
  bool stopped = false;
  while (!stopped) {
    std::uint8_t* const start = output.start();
    std::uint8_t* out = output.cursor();
    // Output may go up to the flush point, and never past the member's length.
    std::uint8_t* const flush_at = output.flush_point();
    std::uint8_t* const end =
        limit - flushed < flush_at - start + 32 ? start + (limit - flushed) : flush_at + 32;
    // A token that starts before `fast_end` fits, so while 8 bytes of input
    // are at hand no check is needed but the end token. Past the flush point
    // only the tokens that started before it may write.
    std::uint8_t* const fast_end = end - flush_at >= kMaxMatch ? flush_at : end - kMaxMatch;
    // One unchecked token; false at the end token.
    auto token_step = [&] {
      const std::uint32_t token = reader.Peek(17);
      if (token & 0x10000) {
        reader.Skip(9);
        *out++ = static_cast<std::uint8_t>(token >> 8);
        return true;
      }
      const int position = static_cast<int>((token >> 4) & kPositionMask);
      if (position == 0) {
        reader.Skip(13);
        ended = true;
        stopped = true;
        return false;
      }
      reader.Skip(17);
      const int length = static_cast<int>(token & 0xF) + 2;
      const std::int64_t produced = flushed + (out - start);
      const int distance = static_cast<int>((produced + 1 - position - 1) & kPositionMask) + 1;
      CopyMatch(out, distance, length);
      out += length;
      return true;
    };
    // A refill leaves at least 56 bits, three steps' worth, and three steps
    // that start this far before `fast_end` all start before it.
    std::uint8_t* const three_at = fast_end - 2 * kMaxMatch;
    while (out < flush_at && !stopped) {
      while (out < three_at && reader.HasWord()) {
        reader.RefillWord();
        // Data that does not compress is nearly all literals: six of them
        // fill the 54 bits at hand and need no chain of shifts.
        const std::uint64_t six = reader.PeekWide(54);
        if ((six & kSixLiteralFlags) == kSixLiteralFlags) {
          for (int i = 0; i < 6; ++i) out[i] = static_cast<std::uint8_t>(six >> (45 - 9 * i));
          out += 6;
          reader.Skip(54);
          continue;
        }
        if (!token_step() || !token_step() || !token_step()) break;
      }
      while (!stopped && out < fast_end && reader.HasWord()) {
        reader.RefillWord();
        if (!token_step()) break;
      }
      if (stopped || out >= flush_at) break;
      // One checked token, where the input runs short (its refill moves on to
      // the next piece of input) or near the member's end. A token is at
      // most 17 bits: flag, then 8 bits of literal or 12 of position and 4
      // of length.
      std::uint32_t token = reader.PeekBits(17);
      if (token & 0x10000) {
        reader.SkipBits(9);
        if (out >= end || reader.overrun()) {
          stopped = true;
          break;
        }
        *out++ = static_cast<std::uint8_t>(token >> 8);
        continue;
      }
      int position = static_cast<int>((token >> 4) & kPositionMask);
      if (position == 0) {
        reader.SkipBits(13);
        ended = !reader.overrun();
        stopped = true;
        break;
      }
      reader.SkipBits(17);
      int length = static_cast<int>(token & 0xF) + 2;
      if (reader.overrun() || end - out < length) {
        stopped = true;
        break;
      }
      // The window position of output byte k is (k + 1) mod 4096; a source
      // 4096 bytes back is the position about to be overwritten.
      std::int64_t produced = flushed + (out - start);
      int distance = static_cast<int>((produced + 1 - position - 1) & kPositionMask) + 1;
      CopyMatch(out, distance, length);
      out += length;
    }
    output.Advance(out);
    flushed += out - start;
    if (!output.Flush()) {
      result.write_failed = true;
      return result;
    }
  }
  result.produced = flushed;
  result.complete = ended;
  return result;
}

}  // namespace quiver
