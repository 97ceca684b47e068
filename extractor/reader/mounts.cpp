#include <memory>
#include <string>
#include <vector>

#include "archive_layout.h"
#include "member_path.h"
#include "platform.h"
#include "quiver/reader.h"
#include "shown_name.h"

namespace quiver {

// One mount: an open archive, or a directory's path.
struct Mount {
  std::unique_ptr<Archive> archive;
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

}  // namespace

Mounts::Mounts() : state_(std::make_unique<State>()) {}
Mounts::~Mounts() = default;
Mounts::Mounts(Mounts&&) noexcept = default;
Mounts& Mounts::operator=(Mounts&&) noexcept = default;

Status Mounts::MountArchive(const std::string& path) {
  auto archive = std::make_unique<Archive>();
  Status status = archive->OpenFile(path);
  if (!status) return status;
  state_->mounts.push_back({std::move(archive), {}});
  return {};
}

Status Mounts::MountDirectory(const std::string& path) {
  FileStatus status;
  if (path.empty() || !StatusOfPath(path.c_str(), status) || !status.directory)
    return {Status::Code::kOpenFailed, "no directory " + ShownName(path)};
  state_->mounts.push_back({nullptr, path});
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

}  // namespace quiver
