#include "mounted_tree.h"

#include <cstdio>

#include "absolute_path.h"
#include "member_path.h"
#include "platform.h"
#include "shown_name.h"

namespace quiver {
namespace {

// C0 controls, DEL, and C1 controls as UTF-8 encodes them; other bytes
// above 0x7F are left alone, as they are the letters of most languages.
bool HasControl(std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte < 0x20 || byte == 0x7F) return true;
    if (byte == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) <= 0x9F &&
        static_cast<unsigned char>(name[i + 1]) >= 0x80)
      return true;
  }
  return false;
}

bool HasEmptyOrDotComponent(std::string_view name) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !IsSeparator(name[i])) continue;
    const std::string_view component = name.substr(start, i - start);
    if (component.empty() || component == ".") return true;
    start = i + 1;
  }
  return false;
}

bool MountArchive(const std::string& source, MountedTree& tree) {
  Archive archive;
  if (Status status = archive.OpenFile(source); !status) {
    std::fprintf(stderr, "quiverfs: %s: %s\n", ShownName(source).c_str(), status.message().c_str());
    return false;
  }
  for (std::size_t i = 0; i < archive.size(); ++i) {
    const char* name = archive.member(i).name;
    if (const char* reason = HiddenNameReason(name))
      std::fprintf(stderr, "quiverfs: %s: %s not shown (%s)\n", ShownName(source).c_str(),
                   ShownName(name).c_str(), reason);
  }
  return static_cast<bool>(tree.mounts.MountArchive(archive));
}

}  // namespace

bool MountSources(const std::vector<std::string>& sources, MountedTree& tree) {
  for (const std::string& source : sources) {
    FileStatus status;
    if (!StatusOfPath(source.c_str(), status)) {
      std::fprintf(stderr, "quiverfs: cannot open %s\n", ShownName(source).c_str());
      return false;
    }
    if (status.directory) {
      tree.unchanging = false;
      const std::optional<std::string> absolute = AbsolutePath(source);
      if (Status mounted = tree.mounts.MountDirectory(absolute.value_or(source)); !mounted) {
        std::fprintf(stderr, "quiverfs: %s\n", mounted.message().c_str());
        return false;
      }
    } else if (!MountArchive(source, tree)) {
      return false;
    }
    tree.modified_ns.push_back(status.modified_ns);
  }
  return true;
}

const char* HiddenNameReason(const char* name) {
  if (const char* reason = UnsafeNameReason(name)) return reason;
  if (HasControl(name)) return "control character";
  if (HasEmptyOrDotComponent(name)) return "empty or \".\" component";
  return nullptr;
}

bool ShownEntryName(std::string_view name) {
  return name.find('\\') == std::string_view::npos && !HasControl(name);
}

std::optional<std::string_view> LibraryName(const char* path) {
  std::string_view name(path);
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  if (name.empty()) return name;
  if (!ShownEntryName(name) || UnsafeNameReason(name.data()) != nullptr) return std::nullopt;
  return name;
}

}  // namespace quiver
