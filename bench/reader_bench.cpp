// Finding a member by name in a 100,000-member archive: the reader's binary
// search on the sorted table against a linear scan of the names.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
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

BENCHMARK(BM_FindSorted);
BENCHMARK(BM_LinearScan)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quiver
