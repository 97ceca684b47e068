// An archive's directories, made once from its table: each directory's
// entries lie side by side in one array, sorted by loose name, so a listing
// costs one lookup and then nothing per entry but the caller's own work.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive_table.h"

namespace quiver {

struct TreeEntry {
  std::uint32_t target;    // a member's index, or a directory's number
  std::uint32_t spelling;  // the member whose name spells the entry's name
  std::uint8_t offset;     // of the entry's name in that member's name
  std::uint8_t length;
  bool directory;
};

struct DirectoryTree {
  // For directory d, its entries are entries[first[d]] to entries[first[d + 1]];
  // directory 0 is the top.
  std::vector<std::uint32_t> first;
  std::vector<TreeEntry> entries;
  // The loose names of the members in the tree, one after another.
  std::vector<char> loose_names;
  // Each directory's number by its loose path ("maps/level1"; "" for the
  // top), a view into loose_names; none for a directory that a member of
  // the same name hides.
  std::unordered_map<std::string_view, std::uint32_t> numbers;
};

// Names as listings order them: ASCII letters lower-cased, bytes unsigned.
bool LooseLess(std::string_view a, std::string_view b);
bool LooseEqual(std::string_view a, std::string_view b);

// Whether a name has a place in the tree: a relative path of plain
// components (no empty, "." or ".." one), not starting with a drive.
bool IsTreePath(std::string_view name);

// Of members that share a loose name only the first in table order is
// listed; a member hides a directory of its name.
DirectoryTree BuildDirectoryTree(const ArchiveTable& table);

// A directory path as listings take it: letters lower-cased, either
// separator, empty components skipped ("/Maps//L1/" is "maps/l1"); written
// into `out`, which holds kNameSize bytes. nullopt when it cannot name a
// directory of any tree.
std::optional<std::string_view> LooseDirectoryPath(std::string_view path, char* out);

// The same with the case kept: the directory part of listed paths.
std::optional<std::string_view> ListedDirectoryPath(std::string_view path, char* out);

std::optional<std::uint32_t> FindDirectory(const DirectoryTree& tree, std::string_view path);

}  // namespace quiver
