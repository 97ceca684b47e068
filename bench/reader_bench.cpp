// Opening a 100,000-member archive from its file and mapped; finding a
// member by name in it: the reader's binary search on the sorted table
// against a linear scan of the names, a loose lookup (case and separator
// forgiven) and a lookup through mounts; and a stored member viewed in place
// against one read into a buffer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "archive_image.h"
#include "quiver/reader.h"

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

BENCHMARK_CAPTURE(BM_Open, file, &Archive::OpenFile)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Open, mapped, &Archive::OpenMapped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindSorted);
BENCHMARK(BM_FindLoose);
BENCHMARK(BM_MountsLookup);
BENCHMARK(BM_LinearScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViewStored);
BENCHMARK(BM_ReadStored)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quiver
