#include "member_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <utility>

#include "cleanup_signals.h"
#include "member_path.h"

namespace quiver {
namespace {

// The unfinished member, for the signal handler.
char live_temp[PATH_MAX];
volatile std::sig_atomic_t live_temp_set = 0;

void BlockCleanupSignals(bool block) {
  sigset_t set = CleanupSignalSet();
  sigprocmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void CleanupSignalHandler(int signal_number) {
  if (live_temp_set) ::unlink(live_temp);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

const char* UnsafeNameReason(const char* name) {
  if (name[0] == '\0') return "empty name";
  if (IsSeparator(name[0])) return "absolute path";
  bool letter = (name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z');
  if (letter && name[1] == ':') return "drive prefix";
  const char* component = name;
  for (const char* p = name;; ++p) {
    if (*p == '\0' || IsSeparator(*p)) {
      std::size_t length = static_cast<std::size_t>(p - component);
      if (length == 2 && component[0] == '.' && component[1] == '.') return "parent directory";
      if (*p == '\0') {
        if (length == 0 || (length == 1 && component[0] == '.')) return "directory name";
        return nullptr;
      }
      component = p + 1;
    }
  }
}

void CreateMemberDirectories(const std::string& path, DirectoryCache& created) {
  for (std::size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (slash == 0) continue;
    std::string directory = path.substr(0, slash);
    if (created.count(directory) != 0) continue;
    if (::mkdir(directory.c_str(), 0777) == 0 || errno == EEXIST) created.insert(directory);
  }
}

PendingFile::~PendingFile() {
  Discard();
}

namespace {

// Gives the unnamed file `fd` the name `target`; fails with EEXIST when the
// name is taken.
bool LinkUnnamed(int fd, const std::string& target) {
  if (::linkat(fd, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0) return true;
  if (errno != ENOENT && errno != EPERM) return false;
  // Without the privilege for an empty path, through the descriptor's link.
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace

bool PendingFile::Create(const std::string& path) {
  path_ = path;
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  // An unnamed file in the member's directory: nothing of it can be seen,
  // or be left behind, until it is linked in complete. Created with the
  // permissions of any new file.
  fd_ = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd_ >= 0) return true;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  return Name([](const std::string& temp, int& fd) {
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd >= 0;
  });
}

template <typename MakeFn>
bool PendingFile::Name(MakeFn make) {
  std::size_t slash = path_.rfind('/');
  std::string directory = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Only the start of the name, so the temporary name fits where the
    // member's own does.
    std::string temp = directory + "." + base.substr(0, 32) + ".qvx-" + std::to_string(::getpid()) +
                       "-" + std::to_string(serial++);
    if (temp.size() >= sizeof live_temp) return false;
    BlockCleanupSignals(true);
    bool made = make(temp, fd_);
    if (made) {
      temp_ = temp;
      std::memcpy(live_temp, temp.c_str(), temp.size() + 1);
      live_temp_set = 1;
    }
    BlockCleanupSignals(false);
    if (made) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

bool PendingFile::Commit() {
  if (temp_.empty()) {
    if (LinkUnnamed(fd_, path_)) return ::close(std::exchange(fd_, -1)) == 0;
    if (errno != EEXIST) return false;
    // Replacing a file: link under a temporary name, then rename over it.
    if (!Name([](const std::string& temp, int& fd) { return LinkUnnamed(fd, temp); })) return false;
  }
  // An existing file keeps its permissions.
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd_, st.st_mode & 07777);
  bool ok = ::close(std::exchange(fd_, -1)) == 0;
  BlockCleanupSignals(true);
  ok = ok && ::rename(temp_.c_str(), path_.c_str()) == 0;
  if (ok) {
    live_temp_set = 0;
    temp_.clear();
  }
  BlockCleanupSignals(false);
  return ok;
}

void PendingFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) {
    BlockCleanupSignals(true);
    ::unlink(temp_.c_str());
    live_temp_set = 0;
    BlockCleanupSignals(false);
    temp_.clear();
  }
}

void InstallMemberCleanup() {
  InstallCleanupHandler(CleanupSignalHandler);
}

}  // namespace quiver
