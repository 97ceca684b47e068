// Lists an archive and prints the length of every member it reads back.
#include <cstdio>
#include <vector>

#include "quiver/reader.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  quiver::Archive archive;
  if (quiver::Status status = archive.OpenFile(argv[1]); !status) {
    std::printf("%s\n", status.message().c_str());
    return 1;
  }
  for (std::size_t i = 0; i < archive.size(); ++i) {
    std::vector<std::uint8_t> bytes;
    if (!archive.Read(i, bytes)) return 1;
    std::printf("%s %zu\n", archive.member(i).name, bytes.size());
  }
  return 0;
}
