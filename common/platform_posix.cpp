#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform.h"

namespace quiver {
namespace {

int Fd(FileHandle file) {
  return static_cast<int>(file);
}

void Fill(const struct stat& st, FileStatus& status) {
  status.size = st.st_size;
  status.regular = S_ISREG(st.st_mode);
  status.directory = S_ISDIR(st.st_mode);
  status.permissions = st.st_mode & 07777;
  status.device = st.st_dev;
  status.inode = st.st_ino;
  status.modified_ns =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  status.changed_ns =
      static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

// The first number in a small text file, or -1.
long long ReadNumber(const char* path, long long& second) {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return -1;
  char text[64] = {};
  std::size_t n = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  text[n] = '\0';
  char* end = nullptr;
  long long first = std::strtoll(text, &end, 10);
  if (end == text) return -1;
  second = std::strtoll(end, nullptr, 10);
  return first;
}

// Whole processors a control group's CPU quota allows, or 0 for no quota.
int QuotaProcessors() {
  long long period = 0;
  // Version 2 says "max 100000" without a quota, which reads as no number.
  long long quota = ReadNumber("/sys/fs/cgroup/cpu.max", period);
  if (quota < 0) {
    long long ignored;
    quota = ReadNumber("/sys/fs/cgroup/cpu/cpu.cfs_quota_us", ignored);
    period = ReadNumber("/sys/fs/cgroup/cpu/cpu.cfs_period_us", ignored);
  }
  if (quota <= 0 || period <= 0) return 0;
  return static_cast<int>(std::max<long long>(1, (quota + period - 1) / period));
}

}  // namespace

FileHandle OpenForReading(const char* path, FileStatus& status) {
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  struct stat st;
  const bool known = ::fstat(fd, &st) == 0;
  if (known) Fill(st, status);
  if (!known || !status.regular) {
    ::close(fd);
    return kNoFile;
  }
  return fd;
}

namespace {

// The directory `root`, then each level of `levels` ("/" between them)
// below it, opened without following a symbolic link; -1 on failure.
int OpenLevelsBelow(const std::string& root, std::string_view levels) {
  int directory = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::size_t start = 0;
  while (directory >= 0 && start < levels.size()) {
    const std::size_t slash = std::min(levels.find('/', start), levels.size());
    const std::string level(levels.substr(start, slash - start));
    start = slash + 1;
    const int next =
        ::openat(directory, level.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(directory);
    directory = next;
  }
  return directory;
}

}  // namespace

FileHandle OpenBelow(const std::string& root, const std::string& relative, FileStatus& status) {
  const std::size_t slash = relative.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  const int directory = OpenLevelsBelow(root, std::string_view(relative).substr(0, start));
  if (directory < 0) return kNoFile;
  const int fd =
      ::openat(directory, relative.c_str() + start, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  ::close(directory);
  struct stat st;
  if (fd < 0) return kNoFile;
  if (::fstat(fd, &st) == 0) {
    Fill(st, status);
    if (status.regular) return fd;
  }
  ::close(fd);
  return kNoFile;
}

bool IsDirectoryBelow(const std::string& root, const std::string& relative) {
  const int directory = OpenLevelsBelow(root, relative);
  if (directory < 0) return false;
  ::close(directory);
  return true;
}

bool ListBelow(const std::string& root, const std::string& relative,
               std::vector<DirectoryItem>& items) {
  items.clear();
  const int directory = OpenLevelsBelow(root, relative);
  if (directory < 0) return false;
  DIR* listing = ::fdopendir(directory);
  if (listing == nullptr) {
    ::close(directory);
    return false;
  }
  while (const struct dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::fstatat(::dirfd(listing), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    DirectoryItem item;
    item.name = name;
    Fill(st, item.status);
    items.push_back(std::move(item));
  }
  ::closedir(listing);
  return true;
}

bool StatusOf(FileHandle file, FileStatus& status) {
  struct stat st;
  if (::fstat(Fd(file), &st) != 0) return false;
  Fill(st, status);
  return true;
}

bool StatusOfPath(const char* path, FileStatus& status) {
  struct stat st;
  if (::stat(path, &st) != 0) return false;
  Fill(st, status);
  return true;
}

bool IsReadableRegularFile(const char* path, FileStatus& status) {
  return StatusOfPath(path, status) && status.regular &&
         ::faccessat(AT_FDCWD, path, R_OK, AT_EACCESS) == 0;
}

bool CloseFile(FileHandle file) {
  return ::close(Fd(file)) == 0;
}

std::size_t WritePrefix(FileHandle file, const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(Fd(file), p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool WriteAll(FileHandle file, const void* data, std::size_t size) {
  return WritePrefix(file, data, size) == size;
}

std::int64_t ReadFullAt(FileHandle file, void* data, std::size_t size, std::int64_t offset) {
  auto* p = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = offset < 0 ? ::read(Fd(file), p + done, size - done)
                           : ::pread(Fd(file), p + done, size - done,
                                     static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t ReadFull(FileHandle file, void* data, std::size_t size) {
  return ReadFullAt(file, data, size, -1);
}

bool SeekTo(FileHandle file, std::int64_t offset) {
  return ::lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) == offset;
}

bool TruncateFile(FileHandle file, std::int64_t size) {
  return ::ftruncate(Fd(file), static_cast<off_t>(size)) == 0;
}

void SetPermissions(FileHandle file, std::uint32_t permissions) {
  ::fchmod(Fd(file), static_cast<mode_t>(permissions));
}

std::uint32_t NewFilePermissions() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

void* AllocateLarge(std::size_t size) {
  void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  ::madvise(memory, size, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  // Faulted in at once: on some virtual machines a fault at each first touch
  // costs as much as the work done on the page.
  ::madvise(memory, size, MADV_POPULATE_WRITE);
#endif
  return memory;
}

void FreeLarge(void* memory, std::size_t size) {
  ::munmap(memory, size);
}

const std::uint8_t* MapFile(FileHandle file, std::int64_t size) {
  void* data = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED, Fd(file), 0);
  return data == MAP_FAILED ? nullptr : static_cast<const std::uint8_t*>(data);
}

void UnmapFile(const std::uint8_t* data, std::int64_t size) {
  ::munmap(const_cast<std::uint8_t*>(data), static_cast<std::size_t>(size));
}

namespace {

constexpr std::int64_t kPageSize = 4096;

// Where a file's position stands, -1 when it has none (a pipe).
std::int64_t FilePosition(FileHandle file) {
  return static_cast<std::int64_t>(::lseek(Fd(file), 0, SEEK_CUR));
}

}  // namespace

CopyResult CopyRange(FileHandle in, std::int64_t in_offset, FileHandle out, std::int64_t size,
                     std::vector<std::uint8_t>& buffer, std::size_t buffer_size,
                     std::int64_t out_position) {
  off_t position = static_cast<off_t>(in_offset);
  off_t* position_arg = in_offset >= 0 ? &position : nullptr;
  // The kernel copies page by page, and moves whole pages only where the
  // two offsets agree within a page; else copying through the buffer, with
  // every write after the first ending on a page of `out`, costs less. A
  // copy of a page or less moves no whole page: through the buffer, with
  // no call to learn the offsets.
  bool kernel_copy = false;
  std::int64_t head = 0;
  if (size > kPageSize) {
    const std::int64_t from = in_offset >= 0 ? in_offset : FilePosition(in);
    const std::int64_t to = out_position >= 0 ? out_position : FilePosition(out);
    kernel_copy = from < 0 || to < 0 || (from - to) % kPageSize == 0;
    head = to < 0 ? 0 : (kPageSize - to % kPageSize) % kPageSize;
  }
  // No longer than the copy: a small member pays for no large buffer.
  const auto buffer_needed =
      static_cast<std::size_t>(std::min(size, static_cast<std::int64_t>(buffer_size)));
  if (!kernel_copy && buffer.size() < buffer_needed) buffer.resize(buffer_needed);
  while (size > 0) {
    if (kernel_copy) {
      ssize_t n = ::copy_file_range(Fd(in), position_arg, Fd(out), nullptr,
                                    static_cast<std::size_t>(size), 0);
      if (n > 0) {
        size -= n;
        continue;
      }
      if (n == 0) return CopyResult::kShortSource;
      if (errno == EINTR) continue;
      // Not offered between these two files: copy through the buffer instead.
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
          errno == EBADF) {
        kernel_copy = false;
        head = 0;
        if (buffer.size() < buffer_needed) buffer.resize(buffer_needed);
        continue;
      }
      return errno == EFBIG || errno == ENOSPC || errno == EDQUOT ? CopyResult::kWriteError
                                                                  : CopyResult::kReadError;
    }
    const std::int64_t most = head > 0 ? head : static_cast<std::int64_t>(buffer_needed);
    head = 0;
    const auto chunk = static_cast<std::size_t>(std::min(size, most));
    std::int64_t got =
        ReadFullAt(in, buffer.data(), chunk, position_arg != nullptr ? position : -1);
    if (got < 0) return CopyResult::kReadError;
    if (static_cast<std::size_t>(got) != chunk) return CopyResult::kShortSource;
    if (!WriteAll(out, buffer.data(), chunk)) return CopyResult::kWriteError;
    position += static_cast<off_t>(got);
    size -= got;
  }
  return CopyResult::kOk;
}

FileHandle CreateOrTruncate(const char* path) {
  return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

CreateResult CreateNewFile(const char* path, FileHandle& file) {
  int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  file = fd;
  if (fd >= 0) return CreateResult::kCreated;
  if (errno == EEXIST) return CreateResult::kNameTaken;
  return errno == EACCES || errno == EPERM || errno == EROFS ? CreateResult::kDenied
                                                             : CreateResult::kFailed;
}

FileHandle CreateUniqueFile(std::string& path, const std::string& prefix) {
  path = prefix + "XXXXXX";
  return ::mkostemp(path.data(), O_CLOEXEC);
}

FileHandle OpenDirectoryNoFollow(const std::string& path, bool& through_link, FileHandle from) {
  through_link = false;
  // Each level is opened from the one above, `from` itself only borrowed:
  // a member's new directory costs a failed open, a mkdir and an open.
  const int base = from == kNoFile ? AT_FDCWD : Fd(from);
  int directory = base;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    const std::string level = path.substr(start, slash - start);
    start = slash + 1;
    if (level.empty()) continue;
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = ::openat(directory, level.c_str(), flags);
    if (next < 0 && errno == ENOENT &&
        (::mkdirat(directory, level.c_str(), 0777) == 0 || errno == EEXIST))
      next = ::openat(directory, level.c_str(), flags);
    if (next < 0 && (errno == ELOOP || errno == ENOTDIR)) {
      struct stat st;
      through_link =
          ::fstatat(directory, level.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    }
    if (directory != base) ::close(directory);
    if (next < 0) return kNoFile;
    directory = next;
  }
  if (directory == base) directory = ::openat(base, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return directory < 0 ? kNoFile : directory;
}

FileHandle CreateUnnamedFileIn(FileHandle directory, bool& unsupported) {
  int fd = ::openat(Fd(directory), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  unsupported = fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL);
  return fd;
}

CreateResult LinkUnnamedFileIn(FileHandle file, FileHandle directory, const char* name) {
  if (::linkat(Fd(file), "", Fd(directory), name, AT_EMPTY_PATH) == 0)
    return CreateResult::kCreated;
  if (errno == ENOENT || errno == EPERM) {
    // Without the privilege for an empty path, through the descriptor's link.
    const std::string self = "/proc/self/fd/" + std::to_string(Fd(file));
    if (::linkat(AT_FDCWD, self.c_str(), Fd(directory), name, AT_SYMLINK_FOLLOW) == 0)
      return CreateResult::kCreated;
  }
  return errno == EEXIST ? CreateResult::kNameTaken : CreateResult::kFailed;
}

CreateResult CreateNewFileIn(FileHandle directory, const char* name, FileHandle& file) {
  int fd =
      ::openat(Fd(directory), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  file = fd;
  if (fd >= 0) return CreateResult::kCreated;
  return errno == EEXIST ? CreateResult::kNameTaken : CreateResult::kFailed;
}

bool RenameIn(FileHandle directory, const char* from, const char* to) {
  return ::renameat(Fd(directory), from, Fd(directory), to) == 0;
}

CreateResult RenameNoReplaceIn(FileHandle directory, const char* from, const char* to) {
  if (::renameat2(Fd(directory), from, Fd(directory), to, RENAME_NOREPLACE) == 0)
    return CreateResult::kCreated;
  if (errno == EEXIST) return CreateResult::kNameTaken;
  if (errno != EINVAL && errno != ENOSYS) return CreateResult::kFailed;
  // A file system without the flag: a link, which never replaces, then the
  // old name goes.
  if (::linkat(Fd(directory), from, Fd(directory), to, 0) != 0)
    return errno == EEXIST ? CreateResult::kNameTaken : CreateResult::kFailed;
  ::unlinkat(Fd(directory), from, 0);
  return CreateResult::kCreated;
}

bool RemoveIn(FileHandle directory, const char* name) {
  return ::unlinkat(Fd(directory), name, 0) == 0 || errno == ENOENT;
}

bool StatusIn(FileHandle directory, const char* name, FileStatus& status) {
  struct stat st;
  if (::fstatat(Fd(directory), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  Fill(st, status);
  return true;
}

bool RenameFile(const char* from, const char* to) {
  return ::rename(from, to) == 0;
}

CreateResult RenameNoReplaceAndEmpty(FileHandle file, const char* from, const char* to) {
  // Emptied first, so that a file is never renamed and left full.
  if (::ftruncate(Fd(file), 0) != 0 || ::lseek(Fd(file), 0, SEEK_SET) != 0)
    return CreateResult::kFailed;
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
    return CreateResult::kCreated;
  if (errno == EEXIST) return CreateResult::kNameTaken;
  return errno == EACCES || errno == EPERM || errno == EROFS ? CreateResult::kDenied
                                                             : CreateResult::kFailed;
}

bool KeepInsteadOf(FileHandle kept, FileHandle made) {
  struct stat old_file;
  struct stat new_file;
  if (::fstat(Fd(kept), &old_file) != 0 || ::fstat(Fd(made), &new_file) != 0) return false;
  return old_file.st_uid == new_file.st_uid && old_file.st_gid == new_file.st_gid &&
         (old_file.st_mode & 07777) == (new_file.st_mode & 07777) && old_file.st_nlink == 1 &&
         ::futimens(Fd(kept), nullptr) == 0;
}

bool RemoveFile(const char* path) {
  return ::unlink(path) == 0 || errno == ENOENT;
}

bool ChangeDirectory(const char* path) {
  return ::chdir(path) == 0;
}

std::string FollowLinks(const std::string& start) {
  std::string path = start;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char target[PATH_MAX];
    ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) return path;
    target[n] = '\0';
    if (target[0] == '/') {
      path = target;
      continue;
    }
    std::size_t slash = path.rfind('/');
    path = slash == std::string::npos ? std::string(target) : path.substr(0, slash + 1) + target;
  }
  return path;
}

int RaiseOpenFileLimit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 1 << 16);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 16));
}

void ReserveOpenFiles(int count) {
  const int probe = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (probe < 0) return;
  // The lowest free descriptor at or above count - 1: the table holds it.
  const int high = ::fcntl(probe, F_DUPFD_CLOEXEC, count - 1);
  if (high >= 0) ::close(high);
  ::close(probe);
}

int ProcessId() {
  return static_cast<int>(::getpid());
}

NewThreadSignalMask::NewThreadSignalMask() {
  static_assert(sizeof(sigset_t) <= sizeof saved_);
  sigset_t set;
  sigfillset(&set);
  // A fault is taken by the thread that caused it, whatever its mask.
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) sigdelset(&set, s);
  pthread_sigmask(SIG_BLOCK, &set, reinterpret_cast<sigset_t*>(saved_));
}

NewThreadSignalMask::~NewThreadSignalMask() {
  pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(saved_), nullptr);
}

int AvailableProcessors() {
  int count = 1;
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) count = std::max(1, CPU_COUNT(&set));
  const int quota = QuotaProcessors();
  return quota > 0 ? std::min(count, quota) : count;
}

}  // namespace quiver
