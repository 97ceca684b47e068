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
#include "fuzz_scratch.h"
#include "lzss_decoder.h"
#include "lzss_encoder.h"
#include "platform.h"
#include "thread_scratch.h"
#include "worker_pool.h"

namespace {

std::string scratch;
quiver::EncoderWindow window;

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
  scratch = quiver::fuzz::MakeScratch("roundtrip").string();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string member = scratch + "/member";
  std::string stream_path = scratch + "/stream";
  {
    std::ofstream out(member, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  static quiver::WorkerPool pool(1, quiver::ReleaseThreadScratch);
  quiver::FileStatus status;
  const quiver::FileHandle temp = quiver::CreateOrTruncate(stream_path.c_str());
  quiver::CompressOutcome outcome =
      quiver::CompressMember(window, quiver::OpenForReading(member.c_str(), status), temp,
                             static_cast<std::int64_t>(size), pool);
  quiver::CloseFile(temp);
  quiver::AdvanceWindow(window, data, size, static_cast<std::int64_t>(size));
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
