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
// mounting is done, may run on several threads at once.
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
  // Uses a descriptor the caller keeps open for as long as the Archive is used.
  Status OpenDescriptor(int fd);
  // Uses an archive image in the caller's memory, which must outlive the Archive.
  Status OpenMemory(const std::uint8_t* image, std::size_t size);
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

  struct State;  // opaque

 private:
  std::unique_ptr<State> state_;
};

// Several archives and directories seen as one, as an engine's search path:
// a name is looked up loosely (as FindLoose) from the last mount added to
// the first, and the first that has it wins, so a patch mounted after the
// base overrides it. A mounted directory serves the file at that relative
// path (either separator, letter case as the file system has it); a name
// that would leave the directory is never opened, and no symbolic link in
// it is followed.
class QUIVER_API Mounts {
 public:
  Mounts();
  ~Mounts();
  Mounts(Mounts&&) noexcept;
  Mounts& operator=(Mounts&&) noexcept;

  Status MountArchive(const std::string& path);
  Status MountDirectory(const std::string& path);

  // The length of what `name` reads as; kNotFound when no mount has it.
  Status Size(std::string_view name, std::size_t& size) const;
  // Into a buffer of exactly that length.
  Status Read(std::string_view name, std::uint8_t* out, std::size_t size) const;

  struct State;  // opaque

 private:
  std::unique_ptr<State> state_;
};

}  // namespace quiver
