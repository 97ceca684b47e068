// Opening an archive: the header and the whole table, checked so that no
// later read or write can leave its bounds. One implementation serves the
// quiverx program and the reader library.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive_layout.h"
#include "byte_stream.h"
#include "large_array.h"
#include "platform.h"

namespace quiver {

// The table's records, read straight into memory that nothing fills first:
// a table of a million members is 272 MB, and filling it before reading it
// costs as much as the read.
using TocEntries = LargeArray<TocEntry>;

struct ArchiveTable {
  ArchiveHeader header;
  TocEntries entries;  // in stored order
  // In key order with every key its name's, as quiver writes it: a binary
  // search on the keys finds any name.
  bool in_key_order = false;
};

// The archive's bytes: a file open for reading, a caller's memory, or a
// caller's reader.
struct ArchiveBytes {
  FileHandle file = kNoFile;
  std::span<const std::uint8_t> memory;
  PositionalReader* reader = nullptr;
  std::int64_t size = 0;
};

// All `size` bytes at `offset`, which lie within bytes.size; false when
// they could not be read.
bool ReadArchiveBytes(const ArchiveBytes& bytes, std::int64_t offset, std::uint8_t* out,
                      std::size_t size);
// `length` bytes from `offset` on, within bytes.size, as a decoder's input.
std::unique_ptr<ByteSource> ArchiveRange(const ArchiveBytes& bytes, std::int64_t offset,
                                         std::int64_t length);

// Reads the header and table into `table`. Returns "" when the archive is
// sound, otherwise why it is damaged: among other faults, members whose
// bytes overlap each other or the header and table (checked in
// O(n log n)). Names in the reasons are shown as ShownName shows them.
std::string LoadArchiveTable(const ArchiveBytes& bytes, ArchiveTable& table);

// The first record in stored order for each distinct name.
using NameIndex = std::unordered_map<std::string_view, std::size_t>;
NameIndex BuildNameIndex(const ArchiveTable& table);

// A name as loose lookups see it: ASCII letters lower-cased, a backslash as "/";
// written into `out`, which holds at least name.size() bytes.
std::string_view LooseName(std::string_view name, char* out);
// Looked up by string_view, so that a lookup makes no string.
struct LooseHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
};
// For each loose name, the records that have it, in stored order.
using LooseIndex =
    std::unordered_map<std::string, std::vector<std::uint32_t>, LooseHash, std::equal_to<>>;
LooseIndex BuildLooseIndex(const ArchiveTable& table);

}  // namespace quiver
