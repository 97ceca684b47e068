// Prints one member of an archive without extracting anything:
//   read_member build/demo/assets.qvr 'assets\maps\level1.map'
#include <cstdio>

#include "quiver/reader.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: read_member archive.qvr member-name\n");
    return 2;
  }
  quiver::Archive archive;
  if (quiver::Status status = archive.OpenFile(argv[1]); !status) {
    std::fprintf(stderr, "%s: %s\n", argv[1], status.message().c_str());
    return 1;
  }
  std::optional<std::size_t> index = archive.Find(argv[2]);
  if (!index) {
    std::fprintf(stderr, "%s: no member named %s\n", argv[1], argv[2]);
    return 1;
  }
  quiver::Status status =
      archive.ReadChunks(*index, [](const std::uint8_t* data, std::size_t size) {
        return std::fwrite(data, 1, size, stdout) == size;
      });
  if (!status) {
    std::fprintf(stderr, "%s: %s\n", argv[2], status.message().c_str());
    return 1;
  }
  return 0;
}
