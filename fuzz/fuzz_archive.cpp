// quiverx on an arbitrary archive image, in a scratch directory: list,
// explode, and extract the first stored name. Nothing may appear outside
// the working directory, and no unfinished output may be left behind. The
// reader library then opens the same image from memory and reads every
// member, which must come back whole or as an error.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "archive_layout.h"
#include "extractor.h"
#include "fuzz_scratch.h"
#include "member_path.h"
#include "quiver/quiver.h"
#include "quiver/reader.h"

namespace fs = std::filesystem;

namespace {

fs::path top;
fs::path work;

int Run(std::initializer_list<const char*> args) {
  std::vector<char*> argv;
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  return quiver::RunExtractor(static_cast<int>(argv.size() - 1), argv.data());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  top = quiver::fuzz::MakeScratch("archive");
  work = top / "work";
  fs::create_directory(work);
  if (::chdir(work.c_str()) != 0) std::abort();
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream out(work / "fz.qvr", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  Run({"quiverx", "?fz"});
  Run({"quiverx", "+fz"});
  std::string name = "missing";
  if (size >= quiver::kHeaderSize + quiver::kRecordSize) {
    const char* stored = reinterpret_cast<const char*>(data + quiver::kHeaderSize + 16);
    name.assign(stored, strnlen(stored, quiver::kNameSize - 1));
  }
  Run({"quiverx", "fz", name.c_str()});
  for (const auto& entry : fs::directory_iterator(top))
    if (entry.path() != work) std::abort();
  // Only members and their directories may stand in the working directory:
  // an unfinished output or anything else is a fault.
  std::set<fs::path> allowed = {work / "fz.qvr"};
  quiver::Archive table;
  if (table.OpenMemory({data, size})) {
    for (std::size_t i = 0; i < table.size(); ++i) {
      fs::path p = (work / quiver::MapMemberPath(table.member(i).name)).lexically_normal();
      for (; p != p.parent_path() && p != work; p = p.parent_path()) allowed.insert(p);
    }
  }
  for (const auto& entry : fs::recursive_directory_iterator(work))
    if (allowed.count(entry.path().lexically_normal()) == 0) std::abort();
  for (const auto& entry : fs::directory_iterator(work))
    if (entry.path().filename() != "fz.qvr") fs::remove_all(entry.path());

  quiver::Archive archive;
  if (archive.OpenMemory({data, size})) {
    // Members of an archive that opens never share bytes, so together they
    // fit in the file.
    std::int64_t spans = 0;
    for (std::size_t i = 0; i < archive.size(); ++i) spans += archive.member(i).stored_length;
    if (spans > static_cast<std::int64_t>(size)) std::abort();
    for (std::size_t i = 0; i < archive.size(); ++i) {
      std::vector<std::uint8_t> bytes;
      quiver::Status status = archive.Read(i, bytes);
      if (status && bytes.size() != static_cast<std::size_t>(archive.member(i).original_length))
        std::abort();
      if (!status && !bytes.empty()) std::abort();
      std::optional<std::size_t> found = archive.Find(archive.member(i).name);
      if (!found || *found > i) std::abort();
    }
  }
  // The same through the C interface, as other languages call it.
  quiver_archive* c_archive = nullptr;
  if (quiver_open_memory(data, size, &c_archive) == QUIVER_OK) {
    for (std::size_t i = 0; i < quiver_member_count(c_archive); ++i) {
      quiver_member_info info;
      if (quiver_member_at(c_archive, i, &info) != QUIVER_OK) std::abort();
      std::vector<std::uint8_t> bytes(info.original_length);
      quiver_read(c_archive, i, bytes.data(), bytes.size());
      const void* view = nullptr;
      std::size_t viewed = 0;
      if (quiver_view(c_archive, i, &view, &viewed) == QUIVER_OK &&
          (viewed != info.original_length || static_cast<const std::uint8_t*>(view) < data ||
           static_cast<const std::uint8_t*>(view) + viewed > data + size))
        std::abort();
      std::size_t found = 0;
      if (quiver_find_loose(c_archive, info.name, &found) != QUIVER_OK || found > i) std::abort();
    }
    quiver_close(c_archive);
  }
  return 0;
}
