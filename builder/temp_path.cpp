#include "temp_path.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "member_path.h"

namespace quiver {

std::string MakeTempPath(const char* source_path) {
  std::string path = source_path;
  std::size_t drive = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  std::size_t directory_end = drive;
  for (std::size_t i = drive; i < path.size(); ++i)
    if (IsSeparator(path[i])) directory_end = i + 1;
  std::size_t dot = path.rfind('.');
  std::string extension;
  std::string stem = path;
  if (dot != std::string::npos && dot >= directory_end) {
    extension = path.substr(dot);
    stem = path.substr(0, dot);
  }
  if (extension.size() >= 4)
    extension.back() = '$';
  else
    extension += '$';
  // Only a name without an extension lacks the dot.
  return extension[0] == '.' ? stem + extension : stem + "." + extension;
}

int CreateExclusiveFile(const std::string& path, char* created, std::size_t capacity) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string name = attempt == 0 ? path : path + "." + std::to_string(attempt);
    if (name.size() >= capacity) return -1;
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      std::memcpy(created, name.c_str(), name.size() + 1);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace quiver
