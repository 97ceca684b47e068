// Encode then decode arbitrary data: the bytes must come back, and no stream
// may be longer than the all-literal bound. The window carries over from one
// input to the next, as from member to member in one run.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "byte_stream.h"
#include "lzss_decoder.h"
#include "lzss_encoder.h"

namespace {

std::string scratch;

class VectorSink : public quiver::ByteSink {
 public:
  bool Write(const std::uint8_t* data, std::size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  std::vector<std::uint8_t> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/quiver-fuzz-XXXXXX";
  scratch = ::mkdtemp(pattern);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string member = scratch + "/member";
  std::string stream_path = scratch + "/stream";
  {
    std::ofstream out(member, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  quiver::CompressOutcome outcome =
      quiver::CompressMember(member.c_str(), stream_path.c_str(), static_cast<std::int64_t>(size));
  if (outcome.status != quiver::CompressStatus::kOk) std::abort();
  std::ifstream in(stream_path, std::ios::binary);
  std::vector<std::uint8_t> stream((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  if (stream.size() != static_cast<std::size_t>(outcome.length)) std::abort();
  if (stream.size() > (9 * size + 13 + 7) / 8) std::abort();
  quiver::MemorySource source(stream);
  VectorSink sink;
  quiver::DecodeResult result = quiver::LzssDecoder(source, static_cast<std::int64_t>(size), sink);
  if (!result.complete || sink.bytes != std::vector<std::uint8_t>(data, data + size)) std::abort();
  return 0;
}
