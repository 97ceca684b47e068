// Writing one member below the current directory, safely: hostile names are
// refused, nothing is written through a symbolic link on the member's path,
// and the file appears at its path only once it is complete.
#pragma once

#include <list>
#include <string>
#include <unordered_map>

#include "member_path.h"
#include "platform.h"

namespace quiver {

// The directories of the members before, kept open: members come in the
// table's order, which scatters a directory's members, and opening every
// level of a path again for each member costs more than writing a small
// one. A directory not kept is opened from its parent, itself kept, so each
// level is opened once however deep the tree. Once open, a directory is the
// one written in, whatever its path comes to name meanwhile.
class MemberDirectory {
 public:
  // At most `kept` stay open, the one used longest ago closed first.
  explicit MemberDirectory(std::size_t kept) : kept_(kept) {}
  ~MemberDirectory();
  MemberDirectory(const MemberDirectory&) = delete;
  MemberDirectory& operator=(const MemberDirectory&) = delete;

  // Opens (and makes) the directory at the relative path `path` ("" for
  // the current one), each level without following a symbolic link;
  // kNoFile on failure, with `through_link` set when a level is a symbolic
  // link.
  FileHandle Open(const std::string& path, bool& through_link);

 private:
  struct Kept {
    FileHandle handle;
    std::list<std::string>::iterator used;
  };
  const std::size_t kept_;
  std::unordered_map<std::string, Kept> open_;
  std::list<std::string> recency_;  // most recently used first
};

// A member's output: an unnamed file in its directory where the file system
// offers one, else a hidden temporary name there. Commit puts it at its
// name, replacing any file or symbolic link there or, when told not to
// replace, never touching a name that exists by then; otherwise nothing of
// it remains.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool Create(FileHandle directory, const std::string& name);
  // An unnamed file already written, made on the same file system, that is
  // to become `name` in `directory`.
  void Adopt(FileHandle file, FileHandle directory, const std::string& name);
  FileHandle file() const { return file_; }
  enum class Committed { kYes, kNameTaken, kFailed };
  // kNameTaken only when `replace` is false: the output is still pending.
  Committed Commit(bool replace);
  // Removes the output; false when its temporary name stays, given by temp().
  bool Discard();
  const std::string& temp() const { return temp_; }

 private:
  // Gives the output a temporary name beside its own through `make`.
  template <typename MakeFn>
  bool Name(MakeFn make);

  FileHandle directory_ = kNoFile;
  std::string name_;
  std::string temp_;
  FileHandle file_ = kNoFile;
};

// The clean-up signals remove an unfinished member before the process dies.
void InstallMemberCleanup();

}  // namespace quiver
