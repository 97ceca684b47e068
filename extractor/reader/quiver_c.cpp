// The C interface: a thin layer over Archive and Mounts that turns their
// Status codes, and running out of memory, into quiver_status values.
#include <new>

#include "quiver/quiver.h"
#include "quiver/reader.h"

struct quiver_archive {
  quiver::Archive archive;
};

struct quiver_mounts {
  quiver::Mounts mounts;
};

namespace {

quiver_status ToStatus(const quiver::Status& status) {
  using Code = quiver::Status::Code;
  switch (status.code()) {
    case Code::kOk:
      return QUIVER_OK;
    case Code::kOpenFailed:
      return QUIVER_ERROR_OPEN;
    case Code::kDamaged:
    case Code::kReadFailed:
      return QUIVER_ERROR_DAMAGED;
    case Code::kNotFound:
      return QUIVER_ERROR_NOT_FOUND;
    case Code::kDecompression:
      return QUIVER_ERROR_DECOMPRESSION;
    case Code::kCompressed:
      return QUIVER_ERROR_COMPRESSED;
    case Code::kNoMemory:
      return QUIVER_ERROR_MEMORY;
    case Code::kNoSuchMember:
    case Code::kBadBuffer:
    case Code::kNotMapped:
    case Code::kStopped:
    case Code::kWriteFailed:
      break;
  }
  return QUIVER_ERROR_ARGUMENT;
}

// Runs `body`, which returns a quiver_status, turning std::bad_alloc into
// QUIVER_ERROR_MEMORY: no exception crosses into C.
template <typename Body>
quiver_status Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return QUIVER_ERROR_MEMORY;
  }
}

template <typename OpenFn>
quiver_status Open(quiver_archive** archive, OpenFn open) {
  if (archive == nullptr) return QUIVER_ERROR_ARGUMENT;
  *archive = nullptr;
  return Guarded([&] {
    auto* opened = new quiver_archive;
    const quiver_status status = ToStatus(open(opened->archive));
    if (status == QUIVER_OK)
      *archive = opened;
    else
      delete opened;
    return status;
  });
}

}  // namespace

extern "C" {

const char* quiver_version(void) {
  return QUIVER_VERSION;
}

const char* quiver_status_message(quiver_status status) {
  switch (status) {
    case QUIVER_OK:
      return "success";
    case QUIVER_ERROR_OPEN:
      return "the file could not be opened";
    case QUIVER_ERROR_DAMAGED:
      return "the archive is damaged or could not be read";
    case QUIVER_ERROR_NOT_FOUND:
      return "no member or mount has that name";
    case QUIVER_ERROR_DECOMPRESSION:
      return "a compressed member's stream is damaged";
    case QUIVER_ERROR_ARGUMENT:
      return "an argument is null or out of range";
    case QUIVER_ERROR_MEMORY:
      return "out of memory";
    case QUIVER_ERROR_COMPRESSED:
      return "the member is stored compressed";
  }
  return "unknown status";
}

quiver_status quiver_open_file(const char* path, quiver_archive** archive) {
  if (path == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Open(archive, [path](quiver::Archive& a) { return a.OpenFile(path); });
}

quiver_status quiver_open_mapped(const char* path, quiver_archive** archive) {
  if (path == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Open(archive, [path](quiver::Archive& a) { return a.OpenMapped(path); });
}

quiver_status quiver_open_memory(const void* data, size_t size, quiver_archive** archive) {
  if (data == nullptr && size != 0) return QUIVER_ERROR_ARGUMENT;
  return Open(archive, [data, size](quiver::Archive& a) {
    return a.OpenMemory(static_cast<const std::uint8_t*>(data), size);
  });
}

void quiver_close(quiver_archive* archive) {
  delete archive;
}

size_t quiver_member_count(const quiver_archive* archive) {
  return archive == nullptr ? 0 : archive->archive.size();
}

quiver_status quiver_member_at(const quiver_archive* archive, size_t index,
                               quiver_member_info* info) {
  if (archive == nullptr || info == nullptr || index >= archive->archive.size())
    return QUIVER_ERROR_ARGUMENT;
  const quiver::MemberInfo member = archive->archive.member(index);
  info->name = member.name;
  info->original_length = static_cast<uint32_t>(member.original_length);
  info->stored_length = static_cast<uint32_t>(member.stored_length);
  info->compressed = member.compressed ? 1 : 0;
  return QUIVER_OK;
}

quiver_status quiver_find(const quiver_archive* archive, const char* name, size_t* index) {
  if (archive == nullptr || name == nullptr || index == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] {
    const std::optional<std::size_t> found = archive->archive.Find(name);
    if (!found) return QUIVER_ERROR_NOT_FOUND;
    *index = *found;
    return QUIVER_OK;
  });
}

quiver_status quiver_find_loose(const quiver_archive* archive, const char* name, size_t* index) {
  if (archive == nullptr || name == nullptr || index == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] {
    const std::optional<std::size_t> found = archive->archive.FindLoose(name);
    if (!found) return QUIVER_ERROR_NOT_FOUND;
    *index = *found;
    return QUIVER_OK;
  });
}

quiver_status quiver_read(const quiver_archive* archive, size_t index, void* buffer, size_t size) {
  if (archive == nullptr || (buffer == nullptr && size != 0)) return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] {
    return ToStatus(archive->archive.Read(index, static_cast<std::uint8_t*>(buffer), size));
  });
}

quiver_status quiver_view(const quiver_archive* archive, size_t index, const void** data,
                          size_t* size) {
  if (archive == nullptr || data == nullptr || size == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] {
    const std::uint8_t* bytes = nullptr;
    std::size_t length = 0;
    const quiver_status status = ToStatus(archive->archive.View(index, bytes, length));
    if (status == QUIVER_OK) {
      *data = bytes;
      *size = length;
    }
    return status;
  });
}

quiver_status quiver_mounts_create(quiver_mounts** mounts) {
  if (mounts == nullptr) return QUIVER_ERROR_ARGUMENT;
  *mounts = nullptr;
  return Guarded([&] {
    *mounts = new quiver_mounts;
    return QUIVER_OK;
  });
}

quiver_status quiver_mount_archive(quiver_mounts* mounts, const char* path) {
  if (mounts == nullptr || path == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] { return ToStatus(mounts->mounts.MountArchive(path)); });
}

quiver_status quiver_mount_directory(quiver_mounts* mounts, const char* path) {
  if (mounts == nullptr || path == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] { return ToStatus(mounts->mounts.MountDirectory(path)); });
}

quiver_status quiver_mounts_size(const quiver_mounts* mounts, const char* name, size_t* size) {
  if (mounts == nullptr || name == nullptr || size == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] { return ToStatus(mounts->mounts.Size(name, *size)); });
}

quiver_status quiver_mounts_read(const quiver_mounts* mounts, const char* name, void* buffer,
                                 size_t size) {
  if (mounts == nullptr || name == nullptr || (buffer == nullptr && size != 0))
    return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] {
    return ToStatus(mounts->mounts.Read(name, static_cast<std::uint8_t*>(buffer), size));
  });
}

void quiver_mounts_close(quiver_mounts* mounts) {
  delete mounts;
}

}  // extern "C"
