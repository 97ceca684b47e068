// Opening a 100,000-member archive from its file and mapped; finding a
// member by name in it: the reader's binary search on the sorted table
// against a linear scan of the names, a loose lookup (case and separator
// forgiven) and a lookup through mounts; and a stored member viewed in place
// against one read into a buffer.
//
// The reader as a file system: a 64 MiB stored member streamed in 64 KiB
// reads against the same bytes read from a plain file; a 64 MiB compressed
// member streamed against a whole Read of it; a read at a random place of
// that member, once its stream has been through it, against decoding one
// checkpoint interval; and listing a directory of 1,000 entries in a
// 100,000-member archive.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "archive_image.h"
#include "lzss_encoder.h"
#include "platform.h"
#include "quiver/reader.h"
#include "thread_scratch.h"
#include "worker_pool.h"

namespace quiver {
namespace {

constexpr int kMembers = 100000;

struct Fixture {
  std::vector<std::uint8_t> image;
  std::vector<std::string> names;
  Archive archive;

  Fixture() {
    test::Members members;
    for (int i = 0; i < kMembers; ++i) {
      names.push_back("assets\\dir" + std::to_string(i % 500) + "\\file" + std::to_string(i) +
                      ".dat");
      members.push_back({names.back(), test::Bytes{'x'}});
    }
    image = test::StoredBuild(members);
    if (!archive.OpenMemory(image)) std::abort();
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// What an engine pays at every start: the whole table read, or mapped, and
// checked. The file is in the page cache, as after the first start.
void BM_Open(benchmark::State& state, Status (Archive::*open)(const std::string&)) {
  const std::string path = "/tmp/quiver-bench-open.qvr";
  const std::vector<std::uint8_t>& image = Shared().image;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  for (auto _ : state) {
    std::optional<Archive> archive(std::in_place);
    if (!((*archive).*open)(path)) {
      state.SkipWithError("not opened");
      break;
    }
    state.PauseTiming();  // closing is not opening
    archive.reset();
    state.ResumeTiming();
  }
  std::remove(path.c_str());
}

void BM_FindSorted(benchmark::State& state) {
  Fixture& f = Shared();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.archive.Find(f.names[i]));
    i = (i + 7919) % f.names.size();
  }
}

void BM_LinearScan(benchmark::State& state) {
  Fixture& f = Shared();
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& wanted = f.names[i];
    std::size_t found = f.archive.size();
    for (std::size_t j = 0; j < f.archive.size(); ++j) {
      if (std::strcmp(f.archive.member(j).name, wanted.c_str()) == 0) {
        found = j;
        break;
      }
    }
    benchmark::DoNotOptimize(found);
    i = (i + 7919) % f.names.size();
  }
}

// The names as a program that does not know their case or separators asks.
std::vector<std::string> LooseNames(const std::vector<std::string>& names) {
  std::vector<std::string> loose;
  for (std::string name : names) {
    for (char& c : name) c = c == '\\' ? '/' : static_cast<char>(std::toupper(c));
    loose.push_back(name);
  }
  return loose;
}

void BM_FindLoose(benchmark::State& state) {
  Fixture& f = Shared();
  static const std::vector<std::string> loose = LooseNames(f.names);
  f.archive.FindLoose(loose[0]);  // the index is made on the first loose lookup
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.archive.FindLoose(loose[i]));
    i = (i + 7919) % loose.size();
  }
}

// The archive as a base, under a small patch mounted after it: most lookups
// miss the patch and find the base.
void BM_MountsLookup(benchmark::State& state) {
  Fixture& f = Shared();
  static const std::vector<std::string> loose = LooseNames(f.names);
  const std::string base = "/tmp/quiver-bench-base.qvr";
  const std::string patch = "/tmp/quiver-bench-patch.qvr";
  test::Bytes patch_image = test::StoredBuild({{"assets\\dir0\\file0.dat", test::Bytes{'p'}}});
  std::ofstream(base, std::ios::binary)
      .write(reinterpret_cast<const char*>(f.image.data()),
             static_cast<std::streamsize>(f.image.size()));
  std::ofstream(patch, std::ios::binary)
      .write(reinterpret_cast<const char*>(patch_image.data()),
             static_cast<std::streamsize>(patch_image.size()));
  Mounts mounts;
  if (!mounts.MountArchive(base) || !mounts.MountArchive(patch)) state.SkipWithError("no mounts");
  std::size_t size = 0;
  mounts.Size(loose[0], size);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(mounts.Size(loose[i], size));
    i = (i + 7919) % loose.size();
  }
  std::remove(base.c_str());
  std::remove(patch.c_str());
}

// One stored member of 4 MiB in a mapped archive.
struct StoredMember {
  std::string path = "/tmp/quiver-bench-stored.qvr";
  Archive archive;
  StoredMember() {
    test::Bytes image = test::StoredBuild({{"big.bin", test::RandomData(4 << 20, 1)}});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    if (!archive.OpenMapped(path)) std::abort();
  }
  ~StoredMember() { std::remove(path.c_str()); }
};

void BM_ViewStored(benchmark::State& state) {
  StoredMember stored;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  for (auto _ : state) {
    stored.archive.View(0, data, size);
    benchmark::DoNotOptimize(data);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (4 << 20));
}

void BM_ReadStored(benchmark::State& state) {
  StoredMember stored;
  std::vector<std::uint8_t> buffer(4 << 20);
  for (auto _ : state) {
    stored.archive.Read(0, buffer.data(), buffer.size());
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (4 << 20));
}

constexpr std::size_t kLarge = 64 << 20;
constexpr std::size_t kPiece = 64 << 10;
// A stream's checkpoint interval, as quiver/reader.h states it.
constexpr std::size_t kCheckpointInterval = 1 << 20;

void WriteFile(const std::string& path, const test::Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// A one-member archive of `data` compressed as the real quiver does it.
test::Bytes CompressedArchive(const std::string& directory, const test::Bytes& data) {
  const std::string member = directory + "/member";
  const std::string stream = directory + "/stream";
  WriteFile(member, data);
  WorkerPool pool(2, ReleaseThreadScratch);
  FileStatus status;
  const CompressOutcome outcome = CompressMember(
      EncoderWindow{}, OpenForReading(member.c_str(), status), CreateOrTruncate(stream.c_str()),
      static_cast<std::int64_t>(data.size()), pool);
  if (outcome.status != CompressStatus::kOk) std::abort();
  std::ifstream in(stream, std::ios::binary);
  test::ImageRecord record;
  record.name = "member";
  record.original_length = static_cast<std::int32_t>(data.size());
  record.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  record.compressed_length = static_cast<std::int32_t>(record.data.size());
  return test::ArchiveImage({record}, 1);
}

// The large members' files, made once: the stored member and the same
// bytes as a plain file, the compressed member, and the first MiB of it as
// a member of its own.
struct LargeFiles {
  std::string directory;
  LargeFiles() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quiver-bench-stream-XXXXXX").string();
    directory = ::mkdtemp(pattern.data());
    const test::Bytes random = test::RandomData(kLarge, 5);
    WriteFile(Path("plain.bin"), random);
    WriteFile(Path("stored.qvr"), test::StoredBuild({{"member", random}}));
    const test::Bytes records = test::BinaryData(kLarge, 6);
    WriteFile(Path("compressed.qvr"), CompressedArchive(directory, records));
    WriteFile(Path("interval.qvr"),
              CompressedArchive(
                  directory, test::Bytes(records.begin(), records.begin() + kCheckpointInterval)));
  }
  ~LargeFiles() { std::filesystem::remove_all(directory); }
  std::string Path(const char* name) const { return directory + "/" + name; }
};

LargeFiles& Large() {
  static LargeFiles files;
  return files;
}

Archive OpenArchive(const char* name) {
  Archive archive;
  if (!archive.OpenFile(Large().Path(name))) std::abort();
  return archive;
}

// Every byte of the stream, in 64 KiB reads.
void StreamThrough(const Archive& archive, std::vector<std::uint8_t>& buffer) {
  Stream stream;
  archive.OpenStream(0, stream);
  std::size_t got = 0;
  while (stream.Read(buffer.data(), buffer.size(), got) && got > 0) benchmark::ClobberMemory();
}

void BM_PlainFileRead(benchmark::State& state) {
  const std::string path = Large().Path("plain.bin");
  std::vector<std::uint8_t> buffer(kPiece);
  for (auto _ : state) {
    FileStatus status;
    const FileHandle file = OpenForReading(path.c_str(), status);
    while (ReadFull(file, buffer.data(), buffer.size()) > 0) benchmark::ClobberMemory();
    CloseFile(file);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLarge));
}

void BM_StreamStored(benchmark::State& state) {
  const Archive archive = OpenArchive("stored.qvr");
  std::vector<std::uint8_t> buffer(kPiece);
  for (auto _ : state) StreamThrough(archive, buffer);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLarge));
}

void BM_ReadCompressed(benchmark::State& state) {
  const Archive archive = OpenArchive("compressed.qvr");
  std::vector<std::uint8_t> buffer(kLarge);
  for (auto _ : state) {
    archive.Read(0, buffer.data(), buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLarge));
}

void BM_StreamCompressed(benchmark::State& state) {
  const Archive archive = OpenArchive("compressed.qvr");
  std::vector<std::uint8_t> buffer(kPiece);
  for (auto _ : state) StreamThrough(archive, buffer);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLarge));
}

// 4 KiB at a random place, on a stream that has been through the member.
void BM_StreamSeekRandom(benchmark::State& state) {
  const Archive archive = OpenArchive("compressed.qvr");
  Stream stream;
  archive.OpenStream(0, stream);
  std::vector<std::uint8_t> buffer(kPiece);
  std::size_t got = 0;
  while (stream.Read(buffer.data(), buffer.size(), got) && got > 0) {
  }
  std::minstd_rand next(1);
  for (auto _ : state) {
    stream.Seek(static_cast<std::int64_t>(next() % (kLarge - 4096)));
    stream.Read(buffer.data(), 4096, got);
    benchmark::ClobberMemory();
  }
  state.counters["interval"] = kCheckpointInterval;
}

void BM_DecodeOneInterval(benchmark::State& state) {
  const Archive archive = OpenArchive("interval.qvr");
  std::vector<std::uint8_t> buffer(kCheckpointInterval);
  for (auto _ : state) {
    archive.Read(0, buffer.data(), buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kCheckpointInterval));
}

// 100 directories of 1,000 members each, listed after their first listing.
void BM_ListDirectory(benchmark::State& state) {
  static const test::Bytes image = [] {
    test::Members members;
    for (int i = 0; i < kMembers; ++i)
      members.push_back(
          {"assets\\dir" + std::to_string(i / 1000) + "\\file" + std::to_string(i) + ".dat",
           test::Bytes{'x'}});
    return test::StoredBuild(members);
  }();
  Archive archive;
  if (!archive.OpenMemory(image)) std::abort();
  std::size_t entries = 0;
  const auto count = [&entries](const DirEntry& entry) {
    entries += entry.name.size() > 0;
    return true;
  };
  archive.List("assets/dir42", count);
  for (auto _ : state) {
    entries = 0;
    archive.List("assets/dir42", count);
    benchmark::DoNotOptimize(entries);
  }
  if (entries != 1000) state.SkipWithError("not 1,000 entries");
}

BENCHMARK_CAPTURE(BM_Open, file, &Archive::OpenFile)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Open, mapped, &Archive::OpenMapped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindSorted);
BENCHMARK(BM_FindLoose);
BENCHMARK(BM_MountsLookup);
BENCHMARK(BM_LinearScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViewStored);
BENCHMARK(BM_ReadStored)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainFileRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamStored)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadCompressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamCompressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamSeekRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeOneInterval)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListDirectory)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quiver
