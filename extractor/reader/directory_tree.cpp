#include "directory_tree.h"

#include <algorithm>
#include <cstring>

#include "member_path.h"

namespace quiver {
namespace {

char Fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Writes `path`'s non-empty components into `out`, "/" between them,
// passing each character through `fold`.
template <typename FoldFn>
std::optional<std::string_view> JoinComponents(std::string_view path, char* out, FoldFn fold) {
  std::size_t length = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    if (i > start) {
      const std::size_t needed = (length > 0 ? 1 : 0) + (i - start);
      if (length + needed >= kNameSize) return std::nullopt;
      if (length > 0) out[length++] = '/';
      for (std::size_t j = start; j < i; ++j) out[length++] = fold(path[j]);
    }
    start = i + 1;
  }
  return std::string_view(out, length);
}

struct Pending {
  std::uint32_t parent;
  std::uint32_t name;  // its loose name's place in DirectoryTree::loose_names
  TreeEntry entry;
};

}  // namespace

bool LooseLess(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(Fold(a[i]));
    const auto y = static_cast<unsigned char>(Fold(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool LooseEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

bool IsTreePath(std::string_view name) {
  if (name.empty() || IsSeparator(name[0])) return false;
  const bool letter = (name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z');
  if (letter && name.size() > 1 && name[1] == ':') return false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !IsSeparator(name[i])) continue;
    const std::string_view part = name.substr(start, i - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = i + 1;
  }
  return true;
}

DirectoryTree BuildDirectoryTree(const ArchiveTable& table) {
  DirectoryTree tree;
  std::size_t total = 0;
  for (const TocEntry& entry : table.entries) total += std::strlen(entry.name);
  // Reserved whole: `numbers` keeps views into it.
  tree.loose_names.reserve(total);
  tree.numbers.emplace(std::string_view(), 0);
  std::vector<Pending> pending;
  pending.reserve(table.entries.size());
  for (std::uint32_t i = 0; i < table.entries.size(); ++i) {
    const std::string_view name(table.entries[i].name);
    if (!IsTreePath(name)) continue;
    const auto at = static_cast<std::uint32_t>(tree.loose_names.size());
    tree.loose_names.resize(at + name.size());
    const std::string_view key = LooseName(name, tree.loose_names.data() + at);
    std::uint32_t parent = 0;
    std::size_t start = 0;
    for (std::size_t p = 0; p <= name.size(); ++p) {
      if (p < name.size() && !IsSeparator(name[p])) continue;
      const auto offset = static_cast<std::uint8_t>(start);
      const auto length = static_cast<std::uint8_t>(p - start);
      if (p == name.size()) {
        pending.push_back({parent, at + offset, {i, i, offset, length, false}});
        break;
      }
      auto found = tree.numbers.find(key.substr(0, p));
      if (found == tree.numbers.end()) {
        const auto number = static_cast<std::uint32_t>(tree.numbers.size());
        found = tree.numbers.emplace(key.substr(0, p), number).first;
        pending.push_back({parent, at + offset, {number, i, offset, length, true}});
      }
      parent = found->second;
      start = p + 1;
    }
  }
  const char* names = tree.loose_names.data();
  // By directory, then loose name; of one name a member first, the first in
  // table order, which hides the others and a directory of that name.
  std::sort(pending.begin(), pending.end(), [names](const Pending& a, const Pending& b) {
    if (a.parent != b.parent) return a.parent < b.parent;
    const int order =
        std::memcmp(names + a.name, names + b.name, std::min(a.entry.length, b.entry.length));
    if (order != 0) return order < 0;
    if (a.entry.length != b.entry.length) return a.entry.length < b.entry.length;
    if (a.entry.directory != b.entry.directory) return b.entry.directory;
    return a.entry.target < b.entry.target;
  });
  tree.first.assign(tree.numbers.size() + 1, 0);
  tree.entries.reserve(pending.size());
  std::vector<std::uint32_t> hidden;
  for (std::size_t i = 0; i < pending.size(); ++i) {
    const Pending& p = pending[i];
    const Pending* before = i > 0 ? &pending[i - 1] : nullptr;
    if (before != nullptr && before->parent == p.parent && before->entry.length == p.entry.length &&
        std::memcmp(names + before->name, names + p.name, p.entry.length) == 0) {
      if (p.entry.directory) hidden.push_back(p.entry.target);
      continue;
    }
    tree.entries.push_back(p.entry);
    ++tree.first[p.parent + 1];
  }
  for (std::size_t d = 1; d < tree.first.size(); ++d) tree.first[d] += tree.first[d - 1];
  // A hidden directory is found by no path; what lies below it stays
  // unlisted.
  if (!hidden.empty()) {
    std::sort(hidden.begin(), hidden.end());
    std::erase_if(tree.numbers, [&hidden](const auto& number) {
      return std::binary_search(hidden.begin(), hidden.end(), number.second);
    });
  }
  return tree;
}

std::optional<std::string_view> LooseDirectoryPath(std::string_view path, char* out) {
  return JoinComponents(path, out, Fold);
}

std::optional<std::string_view> ListedDirectoryPath(std::string_view path, char* out) {
  return JoinComponents(path, out, [](char c) { return c; });
}

std::optional<std::uint32_t> FindDirectory(const DirectoryTree& tree, std::string_view path) {
  char buffer[kNameSize];
  const std::optional<std::string_view> key = LooseDirectoryPath(path, buffer);
  if (!key) return std::nullopt;
  const auto found = tree.numbers.find(*key);
  if (found == tree.numbers.end()) return std::nullopt;
  return found->second;
}

}  // namespace quiver
