// Finding a member by name in a 100,000-member archive: the reader's binary
// search on the sorted table against a linear scan of the names.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive_layout.h"
#include "name_crc.h"
#include "quiver/reader.h"

namespace quiver {
namespace {

constexpr int kMembers = 100000;

struct Fixture {
  std::vector<std::uint8_t> image;
  std::vector<std::string> names;
  Archive archive;

  Fixture() {
    std::vector<TocEntry> toc(kMembers);
    for (int i = 0; i < kMembers; ++i) {
      names.push_back("assets\\dir" + std::to_string(i % 500) + "\\file" + std::to_string(i) +
                      ".dat");
      std::strcpy(toc[i].name, names.back().c_str());
      toc[i].crc = NameCrc(toc[i].name);
      toc[i].original_length = 1;
      toc[i].data_offset = static_cast<std::int32_t>(kHeaderSize + kRecordSize * kMembers + i);
    }
    std::stable_sort(toc.begin(), toc.end(),
                     [](const TocEntry& a, const TocEntry& b) { return a.crc < b.crc; });
    image.resize(kHeaderSize + kRecordSize * kMembers + kMembers, 'x');
    ArchiveHeader header;
    header.count = kMembers;
    EncodeHeader(header, image.data());
    for (int i = 0; i < kMembers; ++i)
      EncodeTocEntry(toc[i], image.data() + kHeaderSize + kRecordSize * i);
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
