#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive_core.h"
#include "archive_layout.h"
#include "directory_tree.h"
#include "member_path.h"
#include "platform.h"
#include "quiver/reader.h"
#include "shown_name.h"
#include "tree_listing.h"

namespace quiver {

// One mount: an open archive, or a directory's path.
struct Mount {
  std::unique_ptr<Archive> archive;
  std::shared_ptr<const ArchiveCore> core;  // the archive's
  std::string directory;
};

struct Mounts::State {
  std::vector<Mount> mounts;  // in the order they were added
};

namespace {

// The path below a mounted directory at which it keeps `name`, or "" for
// a name that must not become a path below it.
std::string PathBelow(std::string_view name) {
  const std::string text(name);
  if (name.size() >= kNameSize || text.find('\0') != std::string::npos ||
      UnsafeNameReason(text.c_str()) != nullptr)
    return "";
  return MapMemberPath(text.c_str());
}

Status NotFound(std::string_view name) {
  return {Status::Code::kNotFound, "no mount has " + ShownName(name)};
}

// What one lookup found: a member of an archive, or a file of a directory,
// open.
struct Found {
  const Archive* archive = nullptr;
  std::size_t index = 0;
  FileHandle file = kNoFile;
  std::string path;
  std::int64_t size = -1;

  Found() = default;
  Found(const Found&) = delete;
  Found& operator=(const Found&) = delete;
  ~Found() {
    if (file != kNoFile) CloseFile(file);
  }
};

void Lookup(const std::vector<Mount>& mounts, std::string_view name, Found& found) {
  for (auto mount = mounts.rbegin(); mount != mounts.rend(); ++mount) {
    if (mount->archive) {
      if (std::optional<std::size_t> index = mount->archive->FindLoose(name)) {
        found.archive = mount->archive.get();
        found.index = *index;
        found.size = mount->archive->member(*index).original_length;
        return;
      }
      continue;
    }
    const std::string path = PathBelow(name);
    FileStatus status;
    if (path.empty()) continue;
    found.file = OpenBelow(mount->directory, path, status);
    if (found.file != kNoFile) {
      found.path = mount->directory + "/" + path;
      found.size = status.size;
      return;
    }
  }
}

// The regular file a mounted directory holds at `name`, or at `name` with
// its empty components left out, as archives take it; `path` is then
// where it lies below the directory.
FileHandle OpenFileOf(const Mount& mount, std::string_view name, FileStatus& status,
                      std::string& path) {
  path = PathBelow(name);
  if (!path.empty())
    if (FileHandle file = OpenBelow(mount.directory, path, status); file != kNoFile) return file;
  char buffer[kNameSize];
  const std::optional<std::string_view> listed = ListedDirectoryPath(name, buffer);
  if (!listed || listed->empty() || *listed == name) return kNoFile;
  path = PathBelow(*listed);
  return path.empty() ? kNoFile : OpenBelow(mount.directory, path, status);
}

// Where below a mounted directory the directory `name` would lie, with its
// empty components left out; nullopt for a name that must not lead there.
std::optional<std::string> DirectoryPathOf(std::string_view name) {
  char buffer[kNameSize];
  const std::optional<std::string_view> listed = ListedDirectoryPath(name, buffer);
  if (!listed) return std::nullopt;
  if (listed->empty()) return std::string();
  std::string path = PathBelow(*listed);
  if (path.empty()) return std::nullopt;
  return path;
}

bool HasDirectory(const Mount& mount, std::string_view name) {
  if (mount.core) return IsTop(name) || DirectoryIn(*mount.core, name).has_value();
  const std::optional<std::string> path = DirectoryPathOf(name);
  return path && IsDirectoryBelow(mount.directory, *path);
}

// An entry of a mounted directory, as listings see it.
struct LooseItem {
  std::string name;
  bool directory;
  std::int64_t size;
};

// The entries of the directory `name` of a mounted directory that a name
// reaches: regular files and directories whose path is one a lookup
// takes, in listing order, one of each loose name (a file before a
// directory, then the first in byte order). False when there is no such
// directory.
bool LooseItemsOf(const Mount& mount, std::string_view name, std::vector<LooseItem>& items) {
  items.clear();
  const std::optional<std::string> path = DirectoryPathOf(name);
  std::vector<DirectoryItem> found;
  if (!path || !ListBelow(mount.directory, *path, found)) return false;
  for (DirectoryItem& item : found) {
    if (!item.status.regular && !item.status.directory) continue;
    if (std::any_of(item.name.begin(), item.name.end(), IsSeparator)) continue;
    const std::string full = path->empty() ? item.name : *path + "/" + item.name;
    if (PathBelow(full) != full) continue;
    items.push_back({std::move(item.name), item.status.directory, item.status.size});
  }
  std::sort(items.begin(), items.end(), [](const LooseItem& a, const LooseItem& b) {
    if (LooseLess(a.name, b.name)) return true;
    if (LooseLess(b.name, a.name)) return false;
    if (a.directory != b.directory) return !a.directory;
    return a.name < b.name;
  });
  items.erase(std::unique(items.begin(), items.end(),
                          [](const LooseItem& a, const LooseItem& b) {
                            return LooseEqual(a.name, b.name);
                          }),
              items.end());
  return true;
}

// One mount's entries of a directory being listed, in listing order.
class Cursor {
 public:
  Cursor(std::size_t mount, const ArchiveCore& core, std::uint32_t number)
      : mount_(mount), core_(&core) {
    const DirectoryTree& tree = core.Tree();
    next_ = tree.entries.data() + tree.first[number];
    end_ = tree.entries.data() + tree.first[number + 1];
  }
  Cursor(std::size_t mount, std::vector<LooseItem> items)
      : mount_(mount), items_(std::move(items)) {}

  bool done() const { return core_ != nullptr ? next_ == end_ : item_ == items_.size(); }
  std::string_view name() const {
    return core_ != nullptr ? TreeEntryName(*core_, *next_) : items_[item_].name;
  }
  bool directory() const { return core_ != nullptr ? next_->directory : items_[item_].directory; }
  EntryInfo info() const {
    EntryInfo info;
    if (core_ != nullptr) {
      info = TreeEntryInfo(*core_, *next_);
    } else {
      info.directory = items_[item_].directory;
      info.size = info.directory ? 0 : items_[item_].size;
    }
    info.mount = mount_;
    return info;
  }
  void Advance() {
    if (core_ != nullptr)
      ++next_;
    else
      ++item_;
  }

 private:
  std::size_t mount_;
  const ArchiveCore* core_ = nullptr;
  const TreeEntry* next_ = nullptr;
  const TreeEntry* end_ = nullptr;
  std::vector<LooseItem> items_;
  std::size_t item_ = 0;
};

// The entries of the directory at path.view() in every mount that has it,
// merged: each loose name once, a file of the last mount that has one,
// else the directory of the last mount that has it. False when `visit`
// stopped it.
bool VisitMounts(const std::vector<Mount>& mounts, bool deep, ListedPath& path,
                 const DirVisitor& visit) {
  const std::string_view directory = path.view();
  std::vector<Cursor> cursors;
  for (std::size_t m = mounts.size(); m-- > 0;) {
    const Mount& mount = mounts[m];
    if (mount.core) {
      std::optional<std::uint32_t> number = std::uint32_t{0};
      if (!IsTop(directory)) number = DirectoryIn(*mount.core, directory);
      if (number) cursors.emplace_back(m, *mount.core, *number);
    } else if (std::vector<LooseItem> items; LooseItemsOf(mount, directory, items)) {
      cursors.emplace_back(m, std::move(items));
    }
  }
  for (;;) {
    const Cursor* least = nullptr;
    for (const Cursor& cursor : cursors)
      if (!cursor.done() && (least == nullptr || LooseLess(cursor.name(), least->name())))
        least = &cursor;
    if (least == nullptr) return true;
    char name[kNameSize];
    const std::size_t length = std::min(least->name().size(), sizeof name);
    std::memcpy(name, least->name().data(), length);
    const std::string_view key(name, length);
    const Cursor* chosen = nullptr;
    for (const Cursor& cursor : cursors) {
      if (cursor.done() || !LooseEqual(cursor.name(), key)) continue;
      if (chosen == nullptr || (chosen->directory() && !cursor.directory())) chosen = &cursor;
    }
    DirEntry entry;
    entry.name = chosen->name();
    const std::size_t back = path.Push(entry.name);
    entry.path = path.view();
    entry.info = chosen->info();
    if (!visit(entry)) return false;
    if (deep && entry.info.directory && !VisitMounts(mounts, true, path, visit)) return false;
    path.Pop(back);
    for (Cursor& cursor : cursors)
      if (!cursor.done() && LooseEqual(cursor.name(), key)) cursor.Advance();
  }
}

// The file that `name` names in the mounts: the last mount that has it.
// Fills `info`, and `setup` where given; false when no mount has one.
bool FindFile(const std::vector<Mount>& mounts, std::string_view name, EntryInfo& info,
              StreamSetup* setup, Status& status) {
  for (std::size_t m = mounts.size(); m-- > 0;) {
    const Mount& mount = mounts[m];
    if (mount.core) {
      const std::optional<std::size_t> index = FileIn(*mount.core, name);
      if (!index) continue;
      info = MemberEntryInfo(*mount.core, *index);
      info.mount = m;
      if (setup != nullptr) status = MemberStreamSetup(mount.core, *index, *setup);
      return true;
    }
    FileStatus file_status;
    std::string path;
    const FileHandle file = OpenFileOf(mount, name, file_status, path);
    if (file == kNoFile) continue;
    info = EntryInfo();
    info.size = file_status.size;
    info.mount = m;
    if (setup != nullptr) {
      setup->file = file;
      setup->size = file_status.size;
      setup->name = mount.directory + "/" + path;
    } else {
      CloseFile(file);
    }
    return true;
  }
  return false;
}

// The last mount that has `name` as a directory, or nullopt.
std::optional<std::size_t> FindDirectory(const std::vector<Mount>& mounts, std::string_view name) {
  for (std::size_t m = mounts.size(); m-- > 0;)
    if (HasDirectory(mounts[m], name)) return m;
  return std::nullopt;
}

Status VisitDirectory(const std::vector<Mount>& mounts, std::string_view directory, bool deep,
                      const DirVisitor& visit) {
  ListedPath path(directory);
  EntryInfo info;
  Status status;
  if (!path.ok()) return NoSuchName(directory);
  if (!IsTop(directory)) {
    if (FindFile(mounts, directory, info, nullptr, status)) return NotADirectory(directory);
    if (!FindDirectory(mounts, directory)) return NoSuchName(directory);
  }
  if (!VisitMounts(mounts, deep, path, visit)) return {Status::Code::kStopped, "stopped"};
  return {};
}

}  // namespace

Status MountedStreamSetup(const Mounts::State& state, std::string_view name, StreamSetup& setup) {
  EntryInfo info;
  Status status;
  if (!IsTop(name) && FindFile(state.mounts, name, info, &setup, status)) return status;
  if (IsTop(name) || FindDirectory(state.mounts, name))
    return {Status::Code::kIsDirectory, ShownName(name) + " is a directory"};
  return NoSuchName(name);
}

Mounts::Mounts() : state_(std::make_unique<State>()) {}
Mounts::~Mounts() = default;
Mounts::Mounts(Mounts&&) noexcept = default;
Mounts& Mounts::operator=(Mounts&&) noexcept = default;

Status Mounts::MountArchive(const std::string& path) {
  auto archive = std::make_unique<Archive>();
  Status status = archive->OpenFile(path);
  if (!status) return status;
  std::shared_ptr<const ArchiveCore> core = archive->state_->core;
  state_->mounts.push_back({std::move(archive), std::move(core), {}});
  return {};
}

Status Mounts::MountArchive(const Archive& archive) {
  if (!archive.state_) return {Status::Code::kNotOpen, "the archive is not open"};
  auto shared = std::make_unique<Archive>();
  shared->state_ = std::make_unique<Archive::State>(*archive.state_);
  std::shared_ptr<const ArchiveCore> core = archive.state_->core;
  state_->mounts.push_back({std::move(shared), std::move(core), {}});
  return {};
}

Status Mounts::MountDirectory(const std::string& path) {
  FileStatus status;
  if (path.empty() || !StatusOfPath(path.c_str(), status) || !status.directory)
    return {Status::Code::kOpenFailed, "no directory " + ShownName(path)};
  state_->mounts.push_back({nullptr, nullptr, path});
  return {};
}

Status Mounts::Size(std::string_view name, std::size_t& size) const {
  Found found;
  Lookup(state_->mounts, name, found);
  if (found.size < 0) return NotFound(name);
  size = static_cast<std::size_t>(found.size);
  return {};
}

Status Mounts::Read(std::string_view name, std::uint8_t* out, std::size_t size) const {
  Found found;
  Lookup(state_->mounts, name, found);
  if (found.size < 0) return NotFound(name);
  if (found.archive != nullptr) return found.archive->Read(found.index, out, size);
  if (size != static_cast<std::size_t>(found.size))
    return {Status::Code::kBadBuffer, "buffer is not the file's length"};
  if (ReadFullAt(found.file, out, size, 0) != static_cast<std::int64_t>(size))
    return {Status::Code::kReadFailed, "cannot read " + ShownName(found.path)};
  return {};
}

Status Mounts::Stat(std::string_view name, EntryInfo& info) const {
  info = EntryInfo();
  const std::vector<Mount>& mounts = state_->mounts;
  Status status;
  if (IsTop(name)) {
    info.directory = true;
    info.mount = mounts.empty() ? 0 : mounts.size() - 1;
    return {};
  }
  if (FindFile(mounts, name, info, nullptr, status)) return {};
  const std::optional<std::size_t> mount = FindDirectory(mounts, name);
  if (!mount) return NoSuchName(name);
  info.directory = true;
  info.mount = *mount;
  return {};
}

Status Mounts::List(std::string_view directory, const DirVisitor& visit) const {
  return VisitDirectory(state_->mounts, directory, false, visit);
}

Status Mounts::Walk(std::string_view directory, const DirVisitor& visit) const {
  return VisitDirectory(state_->mounts, directory, true, visit);
}

}  // namespace quiver
