// Writing one member below the current directory, safely: hostile names are
// refused, and the file appears at its path only once it is complete.
#pragma once

#include <string>
#include <unordered_set>

#include "platform.h"

namespace quiver {

// Why a stored name must not be written, or nullptr when it is safe: empty,
// absolute, with a drive, with a ".." component, or naming a directory.
const char* UnsafeNameReason(const char* name);

// Directories one run has made or found: members of one directory tend to
// follow each other, and those need no second attempt.
using DirectoryCache = std::unordered_set<std::string>;

// Creates every directory along a mapped path; failures show later as a
// failure to create the file.
void CreateMemberDirectories(const std::string& path, DirectoryCache& created);

// A member's output: an unnamed file in its directory where the file system
// offers one, else a temporary name beside its path. Commit puts it at the
// path, replacing any file there; otherwise nothing of it remains.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool Create(const std::string& path);
  FileHandle file() const { return file_; }
  bool Commit();

 private:
  void Discard();
  // Gives the output a temporary name beside the path through `make`.
  template <typename MakeFn>
  bool Name(MakeFn make);

  std::string path_;
  std::string temp_;
  FileHandle file_ = kNoFile;
};

// The clean-up signals remove an unfinished member before the process dies.
void InstallMemberCleanup();

}  // namespace quiver
