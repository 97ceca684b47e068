// Reading members straight from .qvr archives, without extracting them.
// C++17 or later; quiver/quiver.h is the same as a C interface.
//
//   quiver::Archive archive;
//   if (quiver::Status s = archive.OpenFile("game.qvr"); !s) { puts(s.message().c_str()); }
//   std::vector<std::uint8_t> bytes;
//   if (auto i = archive.Find("maps\\level1.map")) archive.Read(*i, bytes);
//
// Opening checks the header and the whole table, so no later read can leave
// the archive's bounds. Every failure is a Status value; nothing here prints
// or ends the process. Reads of one open Archive, or of Mounts once
// mounting is done, may run on several threads at once, and so may any
// number of Streams on them.
//
// Names are paths, "\" and "/" alike between directories; a directory is
// what the names of members begin with. Listings and Stat see names
// loosely, as FindLoose does: letters case-blind, either separator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#if __cplusplus >= 202002L && __has_include(<span>)
#include <span>
#define QUIVER_HAS_SPAN 1
#endif

#if defined(_WIN32) && defined(QUIVER_SHARED_BUILD)
#define QUIVER_API __declspec(dllexport)
#elif defined(__GNUC__)
#define QUIVER_API __attribute__((visibility("default")))
#else
#define QUIVER_API
#endif

namespace quiver {

class QUIVER_API Status {
 public:
  enum class Code {
    kOk,
    kOpenFailed,     // the file could not be opened
    kDamaged,        // the header or table does not describe a sound archive
    kNoSuchMember,   // an index out of range
    kBadBuffer,      // a caller's buffer of the wrong size
    kReadFailed,     // the archive's bytes could not be read
    kDecompression,  // a compressed member's stream is damaged or of the wrong length
    kStopped,        // the caller's chunk function asked to stop
    kWriteFailed,    // the file given to WriteTo could not take the bytes
    kNotFound,       // no mount holds that name
    kCompressed,     // a view of a compressed member, whose bytes must be decoded
    kNotMapped,      // a view of an archive read through its file, not mapped
    kNoMemory,       // memory ran out
    kNotDirectory,   // a listing of a name that is not a directory
    kIsDirectory,    // a stream opened on a directory
    kBadPosition,    // a seek before the start of a stream
    kNotOpen,        // a stream, or an archive to mount, that is not open
  };

  Status() = default;
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

  bool ok() const { return code_ == Code::kOk; }
  explicit operator bool() const { return ok(); }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  Code code_ = Code::kOk;
  std::string message_;
};

// A member's index that no member has: that of a directory, or of a file
// of a mounted directory.
inline constexpr std::size_t kNoIndex = static_cast<std::size_t>(-1);

// What Stat tells of a name, and a listing of each entry.
struct EntryInfo {
  bool directory = false;
  std::int64_t size = 0;         // a file's length in bytes; 0 for a directory
  bool compressed = false;       // a member stored compressed
  std::size_t index = kNoIndex;  // a member's index in its archive
  std::size_t mount = 0;         // Mounts: the mount it comes from, 0 the first mounted
};

// An entry of a listing, valid during the call that hands it over.
struct DirEntry {
  std::string_view name;  // the entry's own name, spelled as stored
  // The directory as the caller named it, with "/" between its non-empty
  // components, then the names down to this entry ("Maps/level1.map" for
  // List("Maps\\")).
  std::string_view path;
  EntryInfo info;
};

// Called for each entry of a listing; returns false to stop it.
using DirVisitor = std::function<bool(const DirEntry&)>;

// An open member, read and sought like a file: a stored member is read from
// where it lies, a compressed one decoded as it is read. Its calls may come
// from several threads; they take turns, and Close and its destruction come
// after all of them. It keeps its archive open: the Archive or Mounts it
// came from may be closed first.
//
// A compressed stream keeps a checkpoint every 1 MiB it has decoded, so a
// read at any position decodes at most 1 MiB before it once the stream has
// been there; a read further on than it has been decodes on from there. It
// holds 132 KiB (a window and an output span, and an input buffer where
// the archive is read through its file or a source) and 4 KiB for every
// MiB decoded so far. A stream of a damaged member gives the bytes it can,
// and the archive's error (that of Archive::Read) for any read that
// reaches the damage; a read that reaches the member's end checks its end
// too, so nobody reads a damaged member to its end without an error.
class QUIVER_API Stream {
 public:
  enum class Whence { kSet, kCurrent, kEnd };

  Stream();
  ~Stream();
  Stream(Stream&&) noexcept;
  Stream& operator=(Stream&&) noexcept;

  bool is_open() const;
  // Up to `size` bytes from the position on, which moves past them; fewer
  // only at the end: `got` is 0 at or past it.
  Status Read(std::uint8_t* out, std::size_t size, std::size_t& got);
  // The same from `position`, without moving the stream's position.
  Status ReadAt(std::int64_t position, std::uint8_t* out, std::size_t size, std::size_t& got);
  // To `offset` from the start, the position or the end. Past the end is
  // allowed, as with files, and reads there give 0 bytes; before the start
  // is kBadPosition, and the position stays.
  Status Seek(std::int64_t offset, Whence whence = Whence::kSet);
  // Of a stream that is not open: 0.
  std::int64_t Tell() const;
  std::int64_t Size() const;
  void Close();

  struct State;  // opaque

 private:
  std::unique_ptr<State> state_;
  friend class Archive;
  friend class Mounts;
};

// An archive that only its owner can read, in a package, an application
// bundle or a cache of its own. Its calls may come from several threads at
// once. The library deletes it when the archive is closed and the last
// stream and mount on it are gone.
class QUIVER_API Source {
 public:
  virtual ~Source();
  // Up to `size` bytes at `offset` into `out`: how many were read (fewer
  // only at the end of the archive), or -1 on a failure.
  virtual std::int64_t ReadAt(std::uint8_t* out, std::size_t size, std::int64_t offset) = 0;
  // The archive's length in bytes, asked once at open; negative on a failure.
  virtual std::int64_t Size() = 0;
};

struct MemberInfo {
  const char* name = nullptr;          // as stored: NUL-terminated, at most 255 bytes
  std::int32_t original_length = 0;    // bytes a read produces
  std::int64_t data_offset = 0;        // of the stored bytes in the archive
  std::int64_t stored_length = 0;      // bytes the member occupies in the archive
  bool compressed = false;             // stored as a compressed stream
  std::int32_t compressed_length = 0;  // as recorded; 0 for a member stored raw
  std::uint32_t key = 0;               // as recorded: NameCrc of the name in a sound table
};

class QUIVER_API Archive {
 public:
  Archive();
  ~Archive();
  Archive(Archive&&) noexcept;
  Archive& operator=(Archive&&) noexcept;

  // Opens and checks the archive at `path` (the full name, extension
  // included), read through its file.
  Status OpenFile(const std::string& path);
  // The same, mapped into memory read-only: reads copy from the mapping and
  // View gives stored members without a copy. Another program truncating
  // the file while it is mapped makes a later read fault (SIGBUS); quiver
  // itself replaces archives by rename and never truncates one.
  Status OpenMapped(const std::string& path);
  // Uses a descriptor the caller keeps open for as long as the Archive and
  // its streams are used.
  Status OpenDescriptor(int fd);
  // Uses an archive image in the caller's memory, which must outlive the
  // Archive and its streams.
  Status OpenMemory(const std::uint8_t* image, std::size_t size);
  // Reads the archive through the caller's source, which it keeps.
  Status OpenSource(std::unique_ptr<Source> source);
#ifdef QUIVER_HAS_SPAN
  Status OpenMemory(std::span<const std::uint8_t> image) {
    return OpenMemory(image.data(), image.size());
  }
#endif

  bool compressed() const;
  // Members in table order.
  std::size_t size() const;
  MemberInfo member(std::size_t index) const;

  // The first member in table order whose name equals `name` byte for byte.
  std::optional<std::size_t> Find(std::string_view name) const;
  // A name matched with ASCII letters case-blind and "\" and "/" as one
  // separator: an exact match when there is one, else the first match in
  // table order.
  std::optional<std::size_t> FindLoose(std::string_view name) const;

  // Into a buffer of exactly the member's original_length bytes.
  Status Read(std::size_t index, std::uint8_t* out, std::size_t size) const;
#ifdef QUIVER_HAS_SPAN
  Status Read(std::size_t index, std::span<std::uint8_t> out) const {
    return Read(index, out.data(), out.size());
  }
#endif
  Status Read(std::size_t index, std::vector<std::uint8_t>& out) const;
  // In chunks, in order; `consume` returns false to stop. The bytes are only
  // valid during the call. A damaged member may have delivered chunks before
  // its error is known.
  Status ReadChunks(std::size_t index,
                    const std::function<bool(const std::uint8_t*, std::size_t)>& consume) const;
  // To a file open for writing (a descriptor; a HANDLE on Windows), at its
  // position; a stored member is copied inside the kernel where it can be.
  // A damaged member may have written bytes before its error is known.
  Status WriteTo(std::size_t index, std::intptr_t file) const;
  // A stored member's bytes where they lie, valid while the archive is
  // open: for archives opened mapped or from memory (else kNotMapped); a
  // compressed member is kCompressed.
  Status View(std::size_t index, const std::uint8_t*& data, std::size_t& size) const;

  // A member opened as a stream.
  Status OpenStream(std::size_t index, Stream& stream) const;

  // A file if FindLoose finds a member by that name, else a directory if
  // members' names begin with it; kNotFound otherwise.
  Status Stat(std::string_view name, EntryInfo& info) const;
  // The entries directly below `directory` ("" or "/" for the top; empty
  // components are skipped), each once, in the byte order of their names
  // with ASCII letters lower-cased. Names that differ only in case are one
  // entry, the first member in table order; a member and a directory of
  // one name are the member. Members whose names are not relative paths of
  // plain components (empty, starting with a separator or a drive, with an
  // empty, "." or ".." component) are in no listing; they still open by
  // name. kStopped when `visit` stops it; kNotDirectory for a member's name.
  Status List(std::string_view directory, const DirVisitor& visit) const;
  // Every entry below `directory`, at any depth: a directory's entries in
  // List's order, each subdirectory's own entries right after it.
  Status Walk(std::string_view directory, const DirVisitor& visit) const;

  struct State;  // opaque

 private:
  std::unique_ptr<State> state_;
  friend class Mounts;
};

// Several archives and directories seen as one, as an engine's search path:
// a name is looked up loosely (as FindLoose) from the last mount added to
// the first, and the first that has it wins, so a patch mounted after the
// base overrides it. A mounted directory serves the file at that relative
// path (either separator, letter case as the file system has it); a name
// that would leave the directory is never opened, and no symbolic link in
// it is followed. Directories are the union of every mount's: a listing
// holds each name once, from the last mount that has it, and a file wins
// over a directory of the same name.
class QUIVER_API Mounts {
 public:
  Mounts();
  ~Mounts();
  Mounts(Mounts&&) noexcept;
  Mounts& operator=(Mounts&&) noexcept;

  Status MountArchive(const std::string& path);
  // An archive already open, of any kind; it may be closed afterwards.
  Status MountArchive(const Archive& archive);
  Status MountDirectory(const std::string& path);

  // The length of what `name` reads as; kNotFound when no mount has it.
  Status Size(std::string_view name, std::size_t& size) const;
  // Into a buffer of exactly that length.
  Status Read(std::string_view name, std::uint8_t* out, std::size_t size) const;

  // What `name` reads as, opened as a stream; kIsDirectory for a directory.
  Status OpenStream(std::string_view name, Stream& stream) const;
  // As Archive's, over the union of the mounts.
  Status Stat(std::string_view name, EntryInfo& info) const;
  Status List(std::string_view directory, const DirVisitor& visit) const;
  Status Walk(std::string_view directory, const DirVisitor& visit) const;

  struct State;  // opaque

 private:
  std::unique_ptr<State> state_;
};

}  // namespace quiver
