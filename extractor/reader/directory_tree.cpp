#include "directory_tree.h"

#include <algorithm>

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

DirectoryTree BuildDirectoryTree(const ArchiveTable& table, const LooseIndex& loose) {
  DirectoryTree tree;
  tree.numbers.emplace("", 0);
  std::vector<Pending> pending;
  pending.reserve(table.entries.size());
  char folded[kNameSize];
  for (std::uint32_t i = 0; i < table.entries.size(); ++i) {
    const std::string_view name(table.entries[i].name);
    if (!IsTreePath(name)) continue;
    const std::string_view key = LooseName(name, folded);
    if (loose.find(key)->second.front() != i) continue;
    std::uint32_t parent = 0;
    std::size_t start = 0;
    for (std::size_t p = 0; p < name.size(); ++p) {
      if (!IsSeparator(name[p])) continue;
      auto found = tree.numbers.find(key.substr(0, p));
      if (found == tree.numbers.end()) {
        const auto number = static_cast<std::uint32_t>(tree.numbers.size());
        found = tree.numbers.emplace(std::string(key.substr(0, p)), number).first;
        pending.push_back({parent,
                           {number, i, static_cast<std::uint8_t>(start),
                            static_cast<std::uint8_t>(p - start), true}});
      }
      parent = found->second;
      start = p + 1;
    }
    pending.push_back({parent,
                       {i, i, static_cast<std::uint8_t>(start),
                        static_cast<std::uint8_t>(name.size() - start), false}});
  }
  const auto name_of = [&table](const TreeEntry& e) {
    return std::string_view(table.entries[e.spelling].name + e.offset, e.length);
  };
  // By directory, then name; a member before a directory of the same name,
  // which it hides.
  std::sort(pending.begin(), pending.end(), [&name_of](const Pending& a, const Pending& b) {
    if (a.parent != b.parent) return a.parent < b.parent;
    const std::string_view x = name_of(a.entry);
    const std::string_view y = name_of(b.entry);
    if (LooseLess(x, y)) return true;
    if (LooseLess(y, x)) return false;
    return !a.entry.directory && b.entry.directory;
  });
  tree.first.assign(tree.numbers.size() + 1, 0);
  tree.entries.reserve(pending.size());
  for (std::size_t i = 0; i < pending.size(); ++i) {
    const Pending& p = pending[i];
    if (i > 0 && pending[i - 1].parent == p.parent &&
        !LooseLess(name_of(pending[i - 1].entry), name_of(p.entry)))
      continue;
    tree.entries.push_back(p.entry);
    ++tree.first[p.parent + 1];
  }
  for (std::size_t d = 1; d < tree.first.size(); ++d) tree.first[d] += tree.first[d - 1];
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
