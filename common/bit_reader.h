// Bits from a compressed stream, most significant first, through a 64-bit
// buffer. Never reads past the end of its source: bits asked for beyond it
// come back as zeros and mark the reader as overrun.
#pragma once

#include <cstdint>
#include <cstring>

#include "byte_stream.h"

namespace quiver {

class BitReader {
 public:
  // `first_byte`: where in the stream the source starts, for BitPosition.
  explicit BitReader(ByteSource& source, std::int64_t first_byte = 0)
      : source_(source), fetched_(first_byte) {}

  std::int32_t InputBit() { return static_cast<std::int32_t>(InputBits(1)); }

  // `count` from 1 to 32 bits, the first taken in the most significant place.
  std::uint32_t InputBits(int count) {
    std::uint32_t value = PeekBits(count);
    SkipBits(count);
    return value;
  }

  // The next `count` bits (1 to 57) without taking them.
  std::uint32_t PeekBits(int count) {
    if (available_ < count) Refill();
    return static_cast<std::uint32_t>(bits_ >> (64 - count));
  }

  // Takes `count` bits that a PeekBits of at least as many has shown.
  void SkipBits(int count) {
    if (available_ < count) {
      overrun_ = true;
      available_ = count;
    }
    bits_ <<= count;
    available_ -= count;
  }

  // True once a bit was taken that the stream does not hold.
  bool overrun() const { return overrun_; }

  // The bits taken so far, counted from the stream's first bit: the bytes
  // before `cursor_` less the bits still held.
  std::int64_t BitPosition() const { return (fetched_ - (end_ - cursor_)) * 8 - available_; }

  // The fast path, for a caller that has seen HasWord: RefillWordUnchecked
  // tops the buffer up to at least 56 bits without a branch, and the
  // Unchecked operations then take those bits with no checks at all.
  bool HasWord() const { return end_ - cursor_ >= 8; }
  void RefillWordUnchecked() {
    // Eight bytes at once; the bytes not counted as taken are loaded again,
    // in the same places, by the next refill.
    std::uint64_t word;
    std::memcpy(&word, cursor_, 8);
    bits_ |= __builtin_bswap64(word) >> available_;
    cursor_ += (63 - available_) >> 3;
    available_ |= 56;
  }
  std::uint32_t PeekUnchecked(int count) const {
    return static_cast<std::uint32_t>(bits_ >> (64 - count));
  }
  std::uint64_t PeekWideUnchecked(int count) const { return bits_ >> (64 - count); }
  void SkipUnchecked(int count) {
    bits_ <<= count;
    available_ -= count;
  }

 private:
  void Refill() {
    if (HasWord()) {
      RefillWordUnchecked();
      return;
    }
    // Never past 63 bits, which RefillWordUnchecked relies on.
    while (available_ < 56) {
      if (cursor_ == end_) {
        auto chunk = source_.NextChunk();
        if (chunk.empty()) return;
        cursor_ = chunk.data();
        end_ = cursor_ + chunk.size();
        fetched_ += static_cast<std::int64_t>(chunk.size());
        if (HasWord()) {
          RefillWordUnchecked();
          return;
        }
      }
      bits_ |= static_cast<std::uint64_t>(*cursor_++) << (56 - available_);
      available_ += 8;
    }
  }

  ByteSource& source_;
  const std::uint8_t* cursor_ = nullptr;
  const std::uint8_t* end_ = nullptr;
  std::int64_t fetched_;  // stream bytes up to end_
  std::uint64_t bits_ = 0;
  int available_ = 0;
  bool overrun_ = false;
};

}  // namespace quiver
