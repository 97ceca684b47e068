// quiver -u over an arbitrary old archive image: under -c and -s the update
// must succeed and write exactly the archive a full build of the same list
// writes. The list is the example assets, whose archives are among the
// seeds, and the members the image yields when read (so that they are found
// by their bytes), in an order the image's last byte picks.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "build_run.h"
#include "builder.h"
#include "fuzz_scratch.h"
#include "quiver/reader.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kAssets = {"assets\\readme.txt", "assets\\maps\\level1.map",
                                          "assets\\maps\\level2.map", "assets/art/logo.bmp",
                                          "assets\\sounds\\beep.raw"};
// Members taken from the image, at most this many of at most this size.
constexpr std::size_t kTaken = 6;
constexpr std::int32_t kTakenSize = 1 << 16;

std::vector<char> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// A run that fails ends the process, which the fuzzer reports.
void Build(std::vector<const char*> args) {
  quiver::build_run = quiver::BuildRun{};
  args.insert(args.begin(), "quiver");
  args.push_back("@list");
  args.push_back(nullptr);
  if (quiver::RunBuilder(static_cast<int>(args.size() - 1), const_cast<char**>(args.data())) != 0)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path work = quiver::fuzz::MakeScratch("update");
  fs::copy(QUIVER_EXAMPLES_DIR "/assets", work / "assets", fs::copy_options::recursive);
  if (::chdir(work.c_str()) != 0) std::abort();
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> list = kAssets;
  quiver::Archive archive;
  if (archive.OpenMemory({data, size})) {
    for (std::size_t i = 0; i < archive.size() && list.size() < kAssets.size() + kTaken; ++i) {
      std::vector<std::uint8_t> bytes;
      if (archive.member(i).original_length > kTakenSize || !archive.Read(i, bytes) ||
          bytes.empty())
        continue;
      const std::string name = "taken" + std::to_string(i);
      WriteFile(name, bytes.data(), bytes.size());
      list.push_back(name);
    }
  }
  if (size > 0) std::rotate(list.begin(), list.begin() + data[size - 1] % list.size(), list.end());
  std::string text;
  for (const std::string& name : list) text += name + "\n";
  WriteFile("list.rsp", text.data(), text.size());
  for (const char* option : {"-c", "-s"}) {
    WriteFile("old.qvr", data, size);
    Build({option, "full"});
    Build({"-u", option, "old"});
    if (ReadFile("old.qvr") != ReadFile("full.qvr")) std::abort();
  }
  return 0;
}
