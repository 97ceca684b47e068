// Throughput of the encoder and the decoder on data of several shapes, in
// bytes of member data per second: the decoder on a stream in memory, and
// through the reader on a member of an archive file.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive_image.h"
#include "archive_layout.h"
#include "byte_stream.h"
#include "lzss_decoder.h"
#include "lzss_encoder.h"
#include "memory_coder.h"
#include "platform.h"
#include "quiver/reader.h"
#include "test_data.h"
#include "thread_scratch.h"
#include "worker_pool.h"

namespace quiver::test {
namespace {

constexpr std::size_t kMemberSize = 4 << 20;

Bytes Shape(int shape) {
  switch (shape) {
    case 0:
      return TextData(kMemberSize, 1);
    case 1:
      return BinaryData(kMemberSize, 2);
    case 2:
      return RandomData(kMemberSize, 3);
    case 3:
      return RunsData(kMemberSize, 4);
    default:
      return SortedData(kMemberSize);
  }
}

const char* const kShapeNames[] = {"text", "binary", "random", "runs", "sorted"};

class ScratchFiles {
 public:
  ScratchFiles() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quiver-bench-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
  }
  ~ScratchFiles() { std::filesystem::remove_all(dir_); }
  std::string Path(const char* name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class NullSink : public ByteSink {
 public:
  bool Write(const std::uint8_t*, std::size_t) override { return true; }
};

// The member compressed as the first of a run.
CompressOutcome CompressFirst(const ScratchFiles& files, std::int64_t length, WorkerPool& pool) {
  FileStatus status;
  const FileHandle temp = CreateOrTruncate(files.Path("stream").c_str());
  CompressOutcome outcome = CompressMember(
      EncoderWindow{}, OpenForReading(files.Path("member").c_str(), status), temp, length, pool);
  CloseFile(temp);
  return outcome;
}

// A member this long is coded in blocks, on the pool's threads: timed by
// the clock on the wall.
void CompressShape(benchmark::State& state, int threads) {
  ScratchFiles files;
  Bytes member = Shape(static_cast<int>(state.range(0)));
  WriteFile(files.Path("member"), member);
  WorkerPool pool(threads, ReleaseThreadScratch);
  for (auto _ : state) {
    CompressOutcome outcome = CompressFirst(files, static_cast<std::int64_t>(member.size()), pool);
    benchmark::DoNotOptimize(outcome);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * member.size()));
  state.SetLabel(kShapeNames[state.range(0)]);
}

void BM_CompressMember(benchmark::State& state) {
  CompressShape(state, 1);
}

void BM_CompressMemberInBlocks(benchmark::State& state) {
  CompressShape(state, 2);
}

// 4 MiB of text in short members of range(0) bytes, coded one after another
// on one thread from the window the ones before leave: through
// CompressMember, a file each way per member, as a whole run codes them.
void BM_CompressShortMembers(benchmark::State& state) {
  ScratchFiles files;
  const auto size = static_cast<std::size_t>(state.range(0));
  const Bytes text = TextData(kMemberSize, 1);
  WriteFile(files.Path("member"), text);
  WorkerPool pool(1, ReleaseThreadScratch);
  for (auto _ : state) {
    EncoderWindow window;
    for (std::size_t at = 0; at + size <= text.size(); at += size) {
      FileStatus status;
      const FileHandle source = OpenForReading(files.Path("member").c_str(), status);
      SeekTo(source, static_cast<std::int64_t>(at));
      const FileHandle temp = CreateOrTruncate(files.Path("stream").c_str());
      CompressOutcome outcome =
          CompressMember(window, source, temp, static_cast<std::int64_t>(size), pool);
      CloseFile(temp);
      benchmark::DoNotOptimize(outcome);
      AdvanceWindow(window, text.data() + at, size, static_cast<std::int64_t>(size));
    }
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * (text.size() / size * size)));
}

// The same members in memory, several to one sort as the builder codes
// them: the coder's own cost, without the files.
void BM_CompressShortMembersInBatches(benchmark::State& state) {
  const auto size = static_cast<std::int64_t>(state.range(0));
  const Bytes text = TextData(kMemberSize, 1);
  const std::int64_t count = static_cast<std::int64_t>(text.size()) / size;
  std::vector<std::array<std::uint8_t, kLookAheadSize - 1>> past_ends(
      static_cast<std::size_t>(count));
  std::vector<ShortMember> members;
  EncoderWindow window;
  for (std::int64_t j = 0; j < count; ++j) {
    const std::uint8_t* bytes = text.data() + j * size;
    WindowBytesPastEnd(window, bytes, size, past_ends[static_cast<std::size_t>(j)].data());
    AdvanceWindow(window, bytes, static_cast<std::size_t>(size), size);
    members.push_back({bytes, size, past_ends[static_cast<std::size_t>(j)].data()});
  }
  std::vector<Bytes> streams(members.size());
  std::vector<Bytes*> outputs;
  for (Bytes& stream : streams) outputs.push_back(&stream);
  const std::int64_t per_batch = SortedNeighbours::kBatchBytes / (size + kLookAheadSize - 1);
  for (auto _ : state) {
    for (std::int64_t j = 0; j < count; j += per_batch) {
      const std::int64_t n = std::min(per_batch, count - j);
      for (std::int64_t k = j; k < j + n; ++k) streams[static_cast<std::size_t>(k)].clear();
      EncodeShortMembers(members.data() + j, static_cast<std::size_t>(n), outputs.data() + j);
    }
  }
  state.SetBytesProcessed(state.iterations() * count * size);
}

// The stream one coder writes for `member` as the first of a run.
Bytes StreamOf(const ScratchFiles& files, const Bytes& member) {
  WriteFile(files.Path("member"), member);
  WorkerPool pool(1, ReleaseThreadScratch);
  CompressFirst(files, static_cast<std::int64_t>(member.size()), pool);
  return ReadFile(files.Path("stream"));
}

void BM_LzssDecoder(benchmark::State& state) {
  ScratchFiles files;
  Bytes member = Shape(static_cast<int>(state.range(0)));
  Bytes stream = StreamOf(files, member);
  for (auto _ : state) {
    MemorySource source(stream);
    NullSink sink;
    DecodeResult result = LzssDecoder(source, static_cast<std::int64_t>(member.size()), sink);
    if (!result.complete) state.SkipWithError("stream did not decode");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * member.size()));
  state.SetLabel(kShapeNames[state.range(0)]);
}

// The member as an archive file holds it: one compressed record, then the
// stream, read back in chunks as a program or quiverx reads it.
void BM_ReadMemberFromFile(benchmark::State& state) {
  ScratchFiles files;
  Bytes member = Shape(static_cast<int>(state.range(0)));
  Bytes stream = StreamOf(files, member);
  ImageRecord record;
  record.name = "member";
  record.original_length = static_cast<std::int32_t>(member.size());
  record.compressed_length = static_cast<std::int32_t>(stream.size());
  record.data = stream;
  const Bytes image = ArchiveImage({record}, 1);
  WriteFile(files.Path("archive.qvr"), image);
  Archive archive;
  if (!archive.OpenFile(files.Path("archive.qvr"))) state.SkipWithError("no archive");
  for (auto _ : state) {
    Status status = archive.ReadChunks(0, [](const std::uint8_t*, std::size_t) { return true; });
    if (!status) state.SkipWithError("member did not read");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * member.size()));
  state.SetLabel(kShapeNames[state.range(0)]);
}

BENCHMARK(BM_CompressMember)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CompressMemberInBlocks)
    ->DenseRange(0, 4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_CompressShortMembers)
    ->Arg(300)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressShortMembersInBatches)
    ->Arg(300)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecoder)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadMemberFromFile)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quiver::test
