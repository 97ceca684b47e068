// Reading members straight from a .qvr archive, without extracting it.
//
//   quiver::Archive archive;
//   if (quiver::Status s = archive.OpenFile("game.qvr"); !s) { puts(s.message().c_str()); }
//   std::vector<std::uint8_t> bytes;
//   if (auto i = archive.Find("maps\\level1.map")) archive.Read(*i, bytes);
//
// Opening checks the header and the whole table, so no later read can leave
// the archive's bounds. Every failure is a Status value; nothing here prints
// or ends the process. Reads of one open Archive may run on several threads
// at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quiver {

class Status {
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
};

class Archive {
 public:
  Archive();
  ~Archive();
  Archive(Archive&&) noexcept;
  Archive& operator=(Archive&&) noexcept;

  // Opens and checks the archive at `path` (the full name, extension included).
  Status OpenFile(const std::string& path);
  // Uses a descriptor the caller keeps open for as long as the Archive is used.
  Status OpenDescriptor(int fd);
  // Uses an archive image in the caller's memory, which must outlive the Archive.
  Status OpenMemory(std::span<const std::uint8_t> image);

  bool compressed() const;
  // Members in table order.
  std::size_t size() const;
  MemberInfo member(std::size_t index) const;

  // The first member in table order whose name equals `name` byte for byte.
  std::optional<std::size_t> Find(std::string_view name) const;

  // Into a buffer of exactly the member's original_length bytes.
  Status Read(std::size_t index, std::span<std::uint8_t> out) const;
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

  struct State;  // opaque

 private:
  std::unique_ptr<State> state_;
};

}  // namespace quiver
