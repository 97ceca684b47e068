#include "archive_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "build_run.h"

namespace quiver {
namespace {

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links so the archive replaces the file a link points to.
std::string ResolveDestination(const char* dest) {
  std::string path = dest;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char target[PATH_MAX];
    ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) return path;
    target[n] = '\0';
    path = target[0] == '/' ? std::string(target) : DirectoryOf(path) + "/" + target;
  }
  return path;
}

mode_t NewFileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool OpenArchiveOutput() {
  std::string target = ResolveDestination(build_run.dest_name);
  mode_t mode = NewFileMode();
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return false;
    mode = st.st_mode & 07777;
  }
  // Beside the target, and short enough to fit wherever the target's name does.
  std::size_t slash = target.rfind('/');
  std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = directory + "." + base.substr(0, 32) + ".XXXXXX";
  if (temp.size() >= sizeof build_run.archive_temp) return false;
  std::snprintf(build_run.archive_target, sizeof build_run.archive_target, "%s", target.c_str());
  std::snprintf(build_run.archive_temp, sizeof build_run.archive_temp, "%s", temp.c_str());
  SignalBlock block;
  int fd = ::mkostemp(build_run.archive_temp, O_CLOEXEC);
  if (fd < 0) return false;
  build_run.archive_temp_live = 1;
  build_run.archive_file = fd;
  build_run.archive_open = true;
  ::fchmod(fd, mode);
  return true;
}

bool CommitArchive() {
  build_run.archive_open = false;
  if (::close(build_run.archive_file) != 0) return false;
  SignalBlock block;
  if (::rename(build_run.archive_temp, build_run.archive_target) != 0) return false;
  build_run.archive_temp_live = 0;
  return true;
}

}  // namespace quiver
