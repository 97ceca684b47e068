// Walks an archive's directories and streams every member in pieces of
// 1000 bytes, holding each to a whole read of it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "quiver/reader.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  quiver::Archive archive;
  if (quiver::Status status = archive.OpenFile(argv[1]); !status) {
    std::printf("%s\n", status.message().c_str());
    return 1;
  }
  bool failed = false;
  const quiver::Status walked = archive.Walk("", [&](const quiver::DirEntry& entry) {
    const std::string path(entry.path);
    if (entry.info.directory) {
      std::printf("%s/\n", path.c_str());
      return true;
    }
    std::vector<std::uint8_t> whole;
    std::vector<std::uint8_t> streamed;
    quiver::Stream stream;
    failed =
        !archive.Read(entry.info.index, whole) || !archive.OpenStream(entry.info.index, stream);
    std::uint8_t piece[1000];
    std::size_t got = 0;
    while (!failed && stream.Read(piece, sizeof piece, got) && got > 0)
      streamed.insert(streamed.end(), piece, piece + got);
    failed = failed || streamed != whole;
    std::printf("%s %zu\n", path.c_str(), streamed.size());
    return !failed;
  });
  quiver::EntryInfo info;
  if (!walked || failed || !archive.Stat("ASSETS/MAPS", info)) {
    std::printf("%s\n", failed ? "a stream differs" : walked.message().c_str());
    return 1;
  }
  std::printf("ASSETS/MAPS is a %s\n", info.directory ? "directory" : "file");
  return 0;
}
