// The C interface: a thin layer over Archive and Mounts that turns their
// Status codes, and running out of memory, into quiver_status values.
#include <cstring>
#include <new>

#include "archive_layout.h"
#include "quiver/quiver.h"
#include "quiver/reader.h"

struct quiver_archive {
  quiver::Archive archive;
};

struct quiver_mounts {
  quiver::Mounts mounts;
};

struct quiver_stream {
  quiver::Stream stream;
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
    case Code::kNotDirectory:
      return QUIVER_ERROR_NOT_DIRECTORY;
    case Code::kIsDirectory:
      return QUIVER_ERROR_IS_DIRECTORY;
    case Code::kNoSuchMember:
    case Code::kBadBuffer:
    case Code::kNotMapped:
    case Code::kStopped:
    case Code::kWriteFailed:
    case Code::kBadPosition:
    case Code::kNotOpen:
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

// A caller's quiver_source, closed when the library is done with it.
class CallbackSource : public quiver::Source {
 public:
  explicit CallbackSource(const quiver_source& source) : source_(source) {}
  ~CallbackSource() override {
    if (source_.close != nullptr) source_.close(source_.user);
  }
  std::int64_t ReadAt(std::uint8_t* out, std::size_t size, std::int64_t offset) override {
    return source_.read(source_.user, offset, out, size);
  }
  std::int64_t Size() override { return source_.size; }

 private:
  quiver_source source_;
};

void Fill(const quiver::EntryInfo& info, quiver_entry& entry) {
  entry.directory = info.directory ? 1 : 0;
  entry.size = static_cast<uint64_t>(info.size);
  entry.compressed = info.compressed ? 1 : 0;
  entry.index = info.index == quiver::kNoIndex ? QUIVER_NO_INDEX : info.index;
  entry.mount = info.mount;
}

// A C string of `text`, which is at most `size` - 1 bytes.
const char* Terminated(std::string_view text, char* out, std::size_t size) {
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), length);
  out[length] = '\0';
  return out;
}

template <typename Stat>
quiver_status StatEntry(const char* name, quiver_entry* entry, Stat stat) {
  if (name == nullptr || entry == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] {
    quiver::EntryInfo info;
    const quiver_status status = ToStatus(stat(name, info));
    if (status == QUIVER_OK) {
      *entry = quiver_entry();
      Fill(info, *entry);
    }
    return status;
  });
}

// A listing through `list`, each entry handed to `visit` as C strings.
template <typename List>
quiver_status ListEntries(const char* directory, quiver_visit visit, void* user, List list) {
  if (directory == nullptr || visit == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] {
    const quiver::Status status = list(directory, [visit, user](const quiver::DirEntry& listed) {
      char name[quiver::kNameSize];
      char path[2 * quiver::kNameSize];
      quiver_entry entry;
      entry.name = Terminated(listed.name, name, sizeof name);
      entry.path = Terminated(listed.path, path, sizeof path);
      Fill(listed.info, entry);
      return visit(user, &entry) != 0;
    });
    return status.code() == quiver::Status::Code::kStopped ? QUIVER_OK : ToStatus(status);
  });
}

template <typename OpenFn>
quiver_status OpenStream(quiver_stream** stream, OpenFn open) {
  if (stream == nullptr) return QUIVER_ERROR_ARGUMENT;
  *stream = nullptr;
  return Guarded([&] {
    auto* opened = new quiver_stream;
    const quiver_status status = ToStatus(open(opened->stream));
    if (status == QUIVER_OK)
      *stream = opened;
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
    case QUIVER_ERROR_NOT_DIRECTORY:
      return "the name is not a directory";
    case QUIVER_ERROR_IS_DIRECTORY:
      return "the name is a directory";
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

quiver_status quiver_open_source(const quiver_source* source, quiver_archive** archive) {
  if (source == nullptr) return QUIVER_ERROR_ARGUMENT;
  // The source is the library's from here on, whatever happens.
  std::unique_ptr<quiver::Source> owned;
  const quiver_status made = Guarded([&] {
    owned = std::make_unique<CallbackSource>(*source);
    return QUIVER_OK;
  });
  if (made != QUIVER_OK) {
    if (source->close != nullptr) source->close(source->user);
    return made;
  }
  if (source->read == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Open(archive, [&owned](quiver::Archive& a) { return a.OpenSource(std::move(owned)); });
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

quiver_status quiver_stat(const quiver_archive* archive, const char* name, quiver_entry* entry) {
  if (archive == nullptr) return QUIVER_ERROR_ARGUMENT;
  return StatEntry(name, entry, [archive](const char* n, quiver::EntryInfo& info) {
    return archive->archive.Stat(n, info);
  });
}

quiver_status quiver_list(const quiver_archive* archive, const char* directory, quiver_visit visit,
                          void* user) {
  if (archive == nullptr) return QUIVER_ERROR_ARGUMENT;
  return ListEntries(directory, visit, user, [archive](const char* d, const quiver::DirVisitor& v) {
    return archive->archive.List(d, v);
  });
}

quiver_status quiver_walk(const quiver_archive* archive, const char* directory, quiver_visit visit,
                          void* user) {
  if (archive == nullptr) return QUIVER_ERROR_ARGUMENT;
  return ListEntries(directory, visit, user, [archive](const char* d, const quiver::DirVisitor& v) {
    return archive->archive.Walk(d, v);
  });
}

quiver_status quiver_open_stream(const quiver_archive* archive, size_t index,
                                 quiver_stream** stream) {
  if (archive == nullptr) return QUIVER_ERROR_ARGUMENT;
  return OpenStream(stream, [archive, index](quiver::Stream& s) {
    return archive->archive.OpenStream(index, s);
  });
}

quiver_status quiver_stream_read(quiver_stream* stream, void* buffer, size_t size, size_t* got) {
  if (stream == nullptr || got == nullptr || (buffer == nullptr && size != 0))
    return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] {
    return ToStatus(stream->stream.Read(static_cast<std::uint8_t*>(buffer), size, *got));
  });
}

quiver_status quiver_stream_read_at(quiver_stream* stream, int64_t position, void* buffer,
                                    size_t size, size_t* got) {
  if (stream == nullptr || got == nullptr || (buffer == nullptr && size != 0))
    return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] {
    return ToStatus(
        stream->stream.ReadAt(position, static_cast<std::uint8_t*>(buffer), size, *got));
  });
}

quiver_status quiver_stream_seek(quiver_stream* stream, int64_t offset, int whence,
                                 int64_t* position) {
  using Whence = quiver::Stream::Whence;
  if (stream == nullptr) return QUIVER_ERROR_ARGUMENT;
  Whence from;
  switch (whence) {
    case QUIVER_SEEK_SET:
      from = Whence::kSet;
      break;
    case QUIVER_SEEK_CUR:
      from = Whence::kCurrent;
      break;
    case QUIVER_SEEK_END:
      from = Whence::kEnd;
      break;
    default:
      return QUIVER_ERROR_ARGUMENT;
  }
  const quiver_status status = ToStatus(stream->stream.Seek(offset, from));
  if (status == QUIVER_OK && position != nullptr) *position = stream->stream.Tell();
  return status;
}

quiver_status quiver_stream_tell(const quiver_stream* stream, int64_t* position) {
  if (stream == nullptr || position == nullptr) return QUIVER_ERROR_ARGUMENT;
  *position = stream->stream.Tell();
  return QUIVER_OK;
}

quiver_status quiver_stream_size(const quiver_stream* stream, int64_t* size) {
  if (stream == nullptr || size == nullptr) return QUIVER_ERROR_ARGUMENT;
  *size = stream->stream.Size();
  return QUIVER_OK;
}

void quiver_stream_close(quiver_stream* stream) {
  delete stream;
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

quiver_status quiver_mount_opened(quiver_mounts* mounts, const quiver_archive* archive) {
  if (mounts == nullptr || archive == nullptr) return QUIVER_ERROR_ARGUMENT;
  return Guarded([&] { return ToStatus(mounts->mounts.MountArchive(archive->archive)); });
}

quiver_status quiver_mounts_stat(const quiver_mounts* mounts, const char* name,
                                 quiver_entry* entry) {
  if (mounts == nullptr) return QUIVER_ERROR_ARGUMENT;
  return StatEntry(name, entry, [mounts](const char* n, quiver::EntryInfo& info) {
    return mounts->mounts.Stat(n, info);
  });
}

quiver_status quiver_mounts_list(const quiver_mounts* mounts, const char* directory,
                                 quiver_visit visit, void* user) {
  if (mounts == nullptr) return QUIVER_ERROR_ARGUMENT;
  return ListEntries(directory, visit, user, [mounts](const char* d, const quiver::DirVisitor& v) {
    return mounts->mounts.List(d, v);
  });
}

quiver_status quiver_mounts_walk(const quiver_mounts* mounts, const char* directory,
                                 quiver_visit visit, void* user) {
  if (mounts == nullptr) return QUIVER_ERROR_ARGUMENT;
  return ListEntries(directory, visit, user, [mounts](const char* d, const quiver::DirVisitor& v) {
    return mounts->mounts.Walk(d, v);
  });
}

quiver_status quiver_mounts_open_stream(const quiver_mounts* mounts, const char* name,
                                        quiver_stream** stream) {
  if (mounts == nullptr || name == nullptr) return QUIVER_ERROR_ARGUMENT;
  return OpenStream(
      stream, [mounts, name](quiver::Stream& s) { return mounts->mounts.OpenStream(name, s); });
}

void quiver_mounts_close(quiver_mounts* mounts) {
  delete mounts;
}

}  // extern "C"
