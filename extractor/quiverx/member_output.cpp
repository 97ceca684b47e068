#include "member_output.h"

#include <climits>
#include <csignal>
#include <cstring>
#include <utility>

#include "member_path.h"
#include "platform.h"
#include "standard_output.h"

namespace quiver {
namespace {

// The unfinished member, for the signal handler: its name in its directory.
char live_temp[PATH_MAX];
volatile FileHandle live_directory = kNoFile;
volatile std::sig_atomic_t live_temp_set = 0;

void CleanupSignalHandler(int signal_number) {
  if (live_temp_set) RemoveIn(live_directory, live_temp);
  // A log shows how far the run got.
  HoldBrokenPipe();
  WritePendingOutput();
  DieBySignal(signal_number);
}

}  // namespace

MemberDirectory::~MemberDirectory() {
  for (const auto& [path, kept] : open_) CloseFile(kept.handle);
}

FileHandle MemberDirectory::Open(const std::string& path, bool& through_link) {
  through_link = false;
  if (auto kept = open_.find(path); kept != open_.end()) {
    recency_.splice(recency_.begin(), recency_, kept->second.used);
    return kept->second.handle;
  }
  FileHandle parent = kNoFile;
  std::string level = path;
  if (const std::size_t slash = path.rfind('/'); slash != std::string::npos) {
    parent = Open(path.substr(0, slash), through_link);
    if (parent == kNoFile) return kNoFile;
    level = path.substr(slash + 1);
  }
  const FileHandle handle = OpenDirectoryNoFollow(level, through_link, parent);
  if (handle == kNoFile) return kNoFile;
  if (open_.size() >= kept_) {
    // The parent just used is never the one closed: it was used after.
    CloseFile(open_.at(recency_.back()).handle);
    open_.erase(recency_.back());
    recency_.pop_back();
  }
  recency_.push_front(path);
  open_.emplace(path, Kept{handle, recency_.begin()});
  return handle;
}

PendingFile::~PendingFile() {
  Discard();
}

bool PendingFile::Create(FileHandle directory, const std::string& name) {
  directory_ = directory;
  name_ = name;
  // An unnamed file in the member's directory: nothing of it can be seen,
  // or be left behind, until it is linked in complete. Created with the
  // permissions of any new file.
  bool unsupported = false;
  file_ = CreateUnnamedFileIn(directory, unsupported);
  if (file_ != kNoFile) return true;
  if (!unsupported) return false;
  return Name([this](const std::string& temp, FileHandle& file) {
    return CreateNewFileIn(directory_, temp.c_str(), file);
  });
}

void PendingFile::Adopt(FileHandle file, FileHandle directory, const std::string& name) {
  file_ = file;
  directory_ = directory;
  name_ = name;
}

template <typename MakeFn>
bool PendingFile::Name(MakeFn make) {
  const std::string prefix = HiddenSiblingPrefix(name_) + ".qvx-" + std::to_string(ProcessId());
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
        live_directory = directory_;
        live_temp_set = 1;
      }
    }
    if (made != CreateResult::kNameTaken) return made == CreateResult::kCreated;
  }
  return false;
}

PendingFile::Committed PendingFile::Commit(bool replace) {
  if (temp_.empty()) {
    const CreateResult linked = LinkUnnamedFileIn(file_, directory_, name_.c_str());
    if (linked == CreateResult::kCreated)
      return CloseFile(std::exchange(file_, kNoFile)) ? Committed::kYes : Committed::kFailed;
    if (linked != CreateResult::kNameTaken) return Committed::kFailed;
    if (!replace) return Committed::kNameTaken;
    // Replacing a file: link under a temporary name, then rename over it.
    if (!Name([this](const std::string& temp, FileHandle& file) {
          return LinkUnnamedFileIn(file, directory_, temp.c_str());
        }))
      return Committed::kFailed;
  }
  // An existing file keeps its permission bits, but never its set-user-ID,
  // set-group-ID or sticky bit; a replaced symbolic link gives nothing of
  // what it points to.
  FileStatus existing;
  if (replace && StatusIn(directory_, name_.c_str(), existing) && existing.regular)
    SetPermissions(file_, existing.permissions & 0777);
  if (!CloseFile(std::exchange(file_, kNoFile))) return Committed::kFailed;
  CleanupSignalBlock block;
  const CreateResult renamed =
      replace ? (RenameIn(directory_, temp_.c_str(), name_.c_str()) ? CreateResult::kCreated
                                                                    : CreateResult::kFailed)
              : RenameNoReplaceIn(directory_, temp_.c_str(), name_.c_str());
  if (renamed != CreateResult::kCreated)
    return renamed == CreateResult::kNameTaken ? Committed::kNameTaken : Committed::kFailed;
  live_temp_set = 0;
  temp_.clear();
  return Committed::kYes;
}

bool PendingFile::Discard() {
  if (file_ != kNoFile) CloseFile(file_);
  file_ = kNoFile;
  if (temp_.empty()) return true;
  CleanupSignalBlock block;
  if (!RemoveIn(directory_, temp_.c_str())) return false;
  live_temp_set = 0;
  temp_.clear();
  return true;
}

void InstallMemberCleanup() {
  InstallCleanupHandler(CleanupSignalHandler);
}

}  // namespace quiver
