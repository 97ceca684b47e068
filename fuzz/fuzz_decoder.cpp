// The decoder on arbitrary bytes: the first four give the member's length,
// the fifth the size of the pieces the stream arrives in, the rest is the
// stream. It must stay within its input, its window and the length, and
// count exactly what it hands over.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "byte_stream.h"
#include "lzss_decoder.h"

namespace {

class CountingSink : public quiver::ByteSink {
 public:
  bool Write(const std::uint8_t*, std::size_t size) override {
    count += static_cast<std::int64_t>(size);
    return true;
  }
  std::int64_t count = 0;
};

// The stream in pieces, each in an allocation of exactly its size, so that
// reading one byte past any piece trips the address checker, as a file read
// in blocks hands the decoder its pieces.
class PieceSource : public quiver::ByteSource {
 public:
  PieceSource(const std::uint8_t* data, std::size_t size, std::size_t piece) {
    for (std::size_t at = 0; at < size; at += piece) {
      std::size_t n = std::min(piece, size - at);
      pieces_.emplace_back(std::make_unique<std::uint8_t[]>(n), n);
      std::memcpy(pieces_.back().first.get(), data + at, n);
    }
  }
  std::span<const std::uint8_t> NextChunk() override {
    if (next_ == pieces_.size()) return {};
    const auto& piece = pieces_[next_++];
    return {piece.first.get(), piece.second};
  }

 private:
  std::vector<std::pair<std::unique_ptr<std::uint8_t[]>, std::size_t>> pieces_;
  std::size_t next_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  std::uint32_t length;
  std::memcpy(&length, data, 4);
  std::int64_t limit = length % (1 << 20);
  std::size_t piece = data[4] == 0 ? size : data[4];
  PieceSource source(data + 5, size - 5, piece);
  CountingSink sink;
  quiver::DecodeResult result = quiver::LzssDecoder(source, limit, sink);
  if (sink.count != result.produced && result.complete) std::abort();
  if (sink.count > limit) std::abort();
  return 0;
}
