// What Stat and listings share between an archive and mounts: resolving a
// name in one archive, and handing over its tree's entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "archive_core.h"
#include "archive_layout.h"
#include "quiver/reader.h"

namespace quiver {

// The path of each listed entry, built in place as a walk goes down: the
// listed directory as the caller named it, then the names below it.
class ListedPath {
 public:
  explicit ListedPath(std::string_view directory);
  // False when `directory` is too long to name any directory.
  bool ok() const { return ok_; }
  // Appends a name; returns the length to go back to.
  std::size_t Push(std::string_view name);
  void Pop(std::size_t length) { length_ = length; }
  std::string_view view() const { return {buffer_, length_}; }

 private:
  char buffer_[2 * kNameSize];
  std::size_t length_ = 0;
  bool ok_ = false;
};

// Whether `name` is the top directory: "", or separators alone.
bool IsTop(std::string_view name);

// The member `name` names in one archive: FindLoose of the name, or of it
// as a path with its empty components left out ("/maps//a.map").
std::optional<std::size_t> FileIn(const ArchiveCore& core, std::string_view name);
// The directory of its tree that `name` names.
std::optional<std::uint32_t> DirectoryIn(const ArchiveCore& core, std::string_view name);

EntryInfo MemberEntryInfo(const ArchiveCore& core, std::size_t index);
std::string_view TreeEntryName(const ArchiveCore& core, const TreeEntry& entry);
EntryInfo TreeEntryInfo(const ArchiveCore& core, const TreeEntry& entry);

Status NoSuchName(std::string_view name);
Status NotADirectory(std::string_view name);

// The entries of directory `number` of an archive's tree, and with `deep`
// those below them; false when `visit` stopped it.
bool VisitTree(const ArchiveCore& core, std::uint32_t number, bool deep, ListedPath& path,
               const DirVisitor& visit);

}  // namespace quiver
