// The decoder on arbitrary bytes: the first four give the member's length,
// the rest is the stream. It must stay within its input, its window and the
// length, and count exactly what it hands over.
#include <cstdint>
#include <cstdlib>
#include <cstring>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t length;
  std::memcpy(&length, data, 4);
  std::int64_t limit = length % (1 << 20);
  // A copy of exactly the stream's size, so reading one byte past it trips
  // the address checker.
  std::size_t stream_size = size - 4;
  auto* stream = static_cast<std::uint8_t*>(std::malloc(stream_size + 1));
  std::memcpy(stream, data + 4, stream_size);
  quiver::MemorySource source({stream, stream_size});
  CountingSink sink;
  quiver::DecodeResult result = quiver::LzssDecoder(source, limit, sink);
  if (sink.count != result.produced && result.complete) std::abort();
  if (sink.count > limit) std::abort();
  std::free(stream);
  return 0;
}
