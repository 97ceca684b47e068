#include "member_output.h"

#include <climits>
#include <csignal>
#include <cstring>
#include <utility>

#include "member_path.h"
#include "platform.h"

namespace quiver {
namespace {

// The unfinished member, for the signal handler.
char live_temp[PATH_MAX];
volatile std::sig_atomic_t live_temp_set = 0;

void CleanupSignalHandler(int signal_number) {
  if (live_temp_set) RemoveFile(live_temp);
  DieBySignal(signal_number);
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
    if (MakeDirectory(directory.c_str())) created.insert(directory);
  }
}

PendingFile::~PendingFile() {
  Discard();
}

bool PendingFile::Create(const std::string& path) {
  path_ = path;
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  // An unnamed file in the member's directory: nothing of it can be seen,
  // or be left behind, until it is linked in complete. Created with the
  // permissions of any new file.
  bool unsupported = false;
  file_ = CreateUnnamedFile(directory.c_str(), unsupported);
  if (file_ != kNoFile) return true;
  if (!unsupported) return false;
  return Name(
      [](const std::string& temp, FileHandle& file) { return CreateNewFile(temp.c_str(), file); });
}

template <typename MakeFn>
bool PendingFile::Name(MakeFn make) {
  const std::string prefix = HiddenSiblingPrefix(path_) + ".qvx-" + std::to_string(ProcessId());
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = prefix + "-" + std::to_string(serial++);
    if (temp.size() >= sizeof live_temp) return false;
    CreateResult made;
    {
      CleanupSignalBlock block;
      made = make(temp, file_);
      if (made == CreateResult::kCreated) {
        temp_ = temp;
        std::memcpy(live_temp, temp.c_str(), temp.size() + 1);
        live_temp_set = 1;
      }
    }
    if (made != CreateResult::kNameTaken) return made == CreateResult::kCreated;
  }
  return false;
}

bool PendingFile::Commit() {
  if (temp_.empty()) {
    const CreateResult linked = LinkUnnamedFile(file_, path_.c_str());
    if (linked == CreateResult::kCreated) return CloseFile(std::exchange(file_, kNoFile));
    if (linked != CreateResult::kNameTaken) return false;
    // Replacing a file: link under a temporary name, then rename over it.
    if (!Name([](const std::string& temp, FileHandle& file) {
          return LinkUnnamedFile(file, temp.c_str());
        }))
      return false;
  }
  // An existing file keeps its permissions.
  FileStatus existing;
  if (StatusOfPath(path_.c_str(), existing) && existing.regular)
    SetPermissions(file_, existing.permissions);
  bool ok = CloseFile(std::exchange(file_, kNoFile));
  CleanupSignalBlock block;
  ok = ok && RenameFile(temp_.c_str(), path_.c_str());
  if (ok) {
    live_temp_set = 0;
    temp_.clear();
  }
  return ok;
}

void PendingFile::Discard() {
  if (file_ != kNoFile) CloseFile(file_);
  file_ = kNoFile;
  if (!temp_.empty()) {
    CleanupSignalBlock block;
    RemoveFile(temp_.c_str());
    live_temp_set = 0;
    temp_.clear();
  }
}

void InstallMemberCleanup() {
  InstallCleanupHandler(CleanupSignalHandler);
}

}  // namespace quiver
