#include "tree_listing.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "directory_tree.h"
#include "shown_name.h"

namespace quiver {

ListedPath::ListedPath(std::string_view directory) {
  const std::optional<std::string_view> path = ListedDirectoryPath(directory, buffer_);
  ok_ = path.has_value();
  length_ = ok_ ? path->size() : 0;
}

std::size_t ListedPath::Push(std::string_view name) {
  const std::size_t before = length_;
  // Every path a listing makes fits; cut rather than overrun all the same.
  if (length_ > 0 && length_ < sizeof buffer_) buffer_[length_++] = '/';
  const std::size_t count = std::min(name.size(), sizeof buffer_ - length_);
  std::memcpy(buffer_ + length_, name.data(), count);
  length_ += count;
  return before;
}

bool IsTop(std::string_view name) {
  char buffer[kNameSize];
  const std::optional<std::string_view> path = LooseDirectoryPath(name, buffer);
  return path && path->empty();
}

std::optional<std::size_t> FileIn(const ArchiveCore& core, std::string_view name) {
  if (std::optional<std::size_t> index = FindLooseIn(core, name)) return index;
  char buffer[kNameSize];
  const std::optional<std::string_view> path = LooseDirectoryPath(name, buffer);
  if (!path || path->empty()) return std::nullopt;
  return FindLooseIn(core, *path);
}

std::optional<std::uint32_t> DirectoryIn(const ArchiveCore& core, std::string_view name) {
  return FindDirectory(core.Tree(), name);
}

EntryInfo MemberEntryInfo(const ArchiveCore& core, std::size_t index) {
  const TocEntry& member = core.table.entries[index];
  EntryInfo info;
  info.size = member.original_length;
  info.compressed = IsCompressedMember(member, core.compressed());
  info.index = index;
  return info;
}

std::string_view TreeEntryName(const ArchiveCore& core, const TreeEntry& entry) {
  return {core.table.entries[entry.spelling].name + entry.offset, entry.length};
}

EntryInfo TreeEntryInfo(const ArchiveCore& core, const TreeEntry& entry) {
  if (!entry.directory) return MemberEntryInfo(core, entry.target);
  EntryInfo info;
  info.directory = true;
  return info;
}

Status NoSuchName(std::string_view name) {
  return {Status::Code::kNotFound, "no such file or directory: " + ShownName(name)};
}

Status NotADirectory(std::string_view name) {
  return {Status::Code::kNotDirectory, "not a directory: " + ShownName(name)};
}

bool VisitTree(const ArchiveCore& core, std::uint32_t number, bool deep, ListedPath& path,
               const DirVisitor& visit) {
  const DirectoryTree& tree = core.Tree();
  for (std::uint32_t i = tree.first[number]; i < tree.first[number + 1]; ++i) {
    const TreeEntry& entry = tree.entries[i];
    DirEntry listed;
    listed.name = TreeEntryName(core, entry);
    const std::size_t back = path.Push(listed.name);
    listed.path = path.view();
    listed.info = TreeEntryInfo(core, entry);
    if (!visit(listed)) return false;
    if (deep && entry.directory && !VisitTree(core, entry.target, true, path, visit)) return false;
    path.Pop(back);
  }
  return true;
}

namespace {

Status VisitArchive(const Archive::State* state, std::string_view directory, bool deep,
                    const DirVisitor& visit) {
  ListedPath path(directory);
  if (!path.ok()) return NoSuchName(directory);
  const bool top = IsTop(directory);
  if (state == nullptr) return top ? Status() : NoSuchName(directory);
  const ArchiveCore& core = *state->core;
  std::uint32_t number = 0;
  if (!top) {
    const std::optional<std::uint32_t> found = DirectoryIn(core, directory);
    if (!found) return FileIn(core, directory) ? NotADirectory(directory) : NoSuchName(directory);
    number = *found;
  }
  if (!VisitTree(core, number, deep, path, visit)) return {Status::Code::kStopped, "stopped"};
  return {};
}

}  // namespace

Status Archive::Stat(std::string_view name, EntryInfo& info) const {
  info = EntryInfo();
  if (IsTop(name)) {
    info.directory = true;
    return {};
  }
  if (!state_) return NoSuchName(name);
  const ArchiveCore& core = *state_->core;
  if (std::optional<std::size_t> index = FileIn(core, name)) {
    info = MemberEntryInfo(core, *index);
    return {};
  }
  if (!DirectoryIn(core, name)) return NoSuchName(name);
  info.directory = true;
  return {};
}

Status Archive::List(std::string_view directory, const DirVisitor& visit) const {
  return VisitArchive(state_.get(), directory, false, visit);
}

Status Archive::Walk(std::string_view directory, const DirVisitor& visit) const {
  return VisitArchive(state_.get(), directory, true, visit);
}

}  // namespace quiver
