#include "fs_operations.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <new>
#include <string>

namespace quiver {
namespace {

// How long the kernel may keep what it was told: archives cannot change
// under an open Archive; the files of a mounted directory can.
constexpr double kUnchangingSeconds = 86400;
constexpr double kChangingSeconds = 1;

const FsContext& Context() {
  return *static_cast<const FsContext*>(fuse_get_context()->private_data);
}

int ErrorNumber(const Status& status) {
  switch (status.code()) {
    case Status::Code::kNotFound:
      return ENOENT;
    case Status::Code::kNotDirectory:
      return ENOTDIR;
    case Status::Code::kIsDirectory:
      return EISDIR;
    case Status::Code::kNoMemory:
    case Status::Code::kStopped:  // only a listing buffer libfuse could not grow stops one
      return ENOMEM;
    default:
      return EIO;
  }
}

// No exception may leave an operation: libfuse is C.
template <typename Operation>
int Guarded(Operation operation) {
  try {
    return operation();
  } catch (const std::bad_alloc&) {
    return -ENOMEM;
  }
}

void FillStatus(const FsContext& fs, const EntryInfo& info, struct stat& status) {
  status = {};
  status.st_mode = info.directory ? (S_IFDIR | 0555) : (S_IFREG | 0444);
  // 1 for a directory too: tools then count no subdirectories from it.
  status.st_nlink = 1;
  status.st_uid = fs.uid;
  status.st_gid = fs.gid;
  status.st_size = info.size;
  status.st_blocks = (info.size + 511) / 512;
  const std::int64_t ns = fs.tree->modified_ns[info.mount];
  status.st_mtim = {ns / 1000000000, ns % 1000000000};
  status.st_atim = status.st_mtim;
  status.st_ctim = status.st_mtim;
}

Stream& OpenedStream(const fuse_file_info* file) {
  return *reinterpret_cast<Stream*>(static_cast<std::uintptr_t>(file->fh));
}

void* Init(fuse_conn_info* connection, fuse_config* config) {
  auto& fs = *static_cast<FsContext*>(fuse_get_context()->private_data);
  const double seconds = fs.tree->unchanging ? kUnchangingSeconds : kChangingSeconds;
  config->entry_timeout = seconds;
  config->attr_timeout = seconds;
  config->negative_timeout = seconds;
  config->kernel_cache = fs.tree->unchanging;
  // One read of a file at a time, in order, so that a compressed member
  // read from start to end is decoded once; reads out of order would go
  // back to a checkpoint.
  connection->want &= ~FUSE_CAP_ASYNC_READ;
  return &fs;
}

int GetAttr(const char* path, struct stat* status, fuse_file_info*) {
  return Guarded([&] {
    const FsContext& fs = Context();
    const std::optional<std::string_view> name = LibraryName(path);
    if (!name) return -ENOENT;
    EntryInfo info;
    if (Status found = fs.tree->mounts.Stat(*name, info); !found) return -ErrorNumber(found);
    FillStatus(fs, info, *status);
    return 0;
  });
}

int ReadDirectory(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                  fuse_readdir_flags) {
  return Guarded([&] {
    const FsContext& fs = Context();
    const std::optional<std::string_view> name = LibraryName(path);
    if (!name) return -ENOENT;
    // Offsets of 0: libfuse takes the whole listing at once and hands it
    // out in pieces, so a listing is made once per opening.
    fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    std::string entry_name;  // reused: no allocation per entry
    struct stat status;
    const Status listed = fs.tree->mounts.List(*name, [&](const DirEntry& entry) {
      if (!ShownEntryName(entry.name)) return true;
      entry_name.assign(entry.name);
      FillStatus(fs, entry.info, status);
      return fill(buffer, entry_name.c_str(), &status, 0, FUSE_FILL_DIR_PLUS) == 0;
    });
    return listed ? 0 : -ErrorNumber(listed);
  });
}

int Open(const char* path, fuse_file_info* file) {
  return Guarded([&] {
    const FsContext& fs = Context();
    const std::optional<std::string_view> name = LibraryName(path);
    if (!name) return -ENOENT;
    auto stream = std::make_unique<Stream>();
    if (Status opened = fs.tree->mounts.OpenStream(*name, *stream); !opened)
      return -ErrorNumber(opened);
    file->fh = reinterpret_cast<std::uintptr_t>(stream.release());
    file->keep_cache = fs.tree->unchanging;
    return 0;
  });
}

int Read(const char*, char* out, size_t size, off_t offset, fuse_file_info* file) {
  return Guarded([&] {
    std::size_t got = 0;
    // A damaged member's error: EIO.
    const Status read =
        OpenedStream(file).ReadAt(offset, reinterpret_cast<std::uint8_t*>(out), size, got);
    return read ? static_cast<int>(got) : -ErrorNumber(read);
  });
}

int Release(const char*, fuse_file_info* file) {
  delete &OpenedStream(file);
  return 0;
}

}  // namespace

fuse_operations FsOperations() {
  fuse_operations operations = {};
  operations.init = Init;
  operations.getattr = GetAttr;
  operations.readdir = ReadDirectory;
  operations.open = Open;
  operations.read = Read;
  operations.release = Release;
  return operations;
}

}  // namespace quiver
