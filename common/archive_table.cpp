#include "archive_table.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "name_crc.h"
#include "shown_name.h"
#include "stream_format.h"

namespace quiver {
namespace {

// What is wrong with a record on its own, or nullptr: nothing is spelled
// out for the records that are sound, nearly all of them.
const char* EntryFault(const TocEntry& entry, bool compressed, std::int64_t size) {
  if (entry.original_length < 0 || entry.compressed_length < 0) return "has a negative length";
  // A record that promises more than its stream can yield is damaged (and
  // would make readers reserve memory for nothing).
  if (IsCompressedMember(entry, compressed) &&
      entry.original_length >
          kMaxBytesPerStreamByte * static_cast<std::int64_t>(entry.compressed_length))
    return "is longer than its stream can hold";
  if (entry.data_offset < 0 || entry.data_offset + StoredSpan(entry, compressed) > size)
    return "has data outside the file";
  return nullptr;
}

// Names reach a console in these messages: shown as a console may show them.
std::string Entry(const TocEntries& entries, std::size_t index) {
  return "entry " + std::to_string(index) + " (" + ShownName(entries[index].name) + ")";
}

// The keys of the members that have bytes, each its data offset above its
// index, in offset order and, at equal offsets, in table order: a radix sort
// on the offset's two 16-bit halves (offsets are below 2^31), or for a
// table smaller than its 1 MiB of counts, a plain sort of the keys.
std::vector<std::uint64_t> SpansInOffsetOrder(const TocEntries& entries, bool compressed) {
  std::vector<std::uint64_t> keys;
  keys.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (StoredSpan(entries[i], compressed) > 0)
      keys.push_back(static_cast<std::uint64_t>(entries[i].data_offset) << 32 | i);
  if (keys.size() < (1 << 16)) {
    std::sort(keys.begin(), keys.end());
    return keys;
  }
  std::vector<std::uint64_t> spare(keys.size());
  for (const int shift : {32, 48}) {
    std::vector<std::size_t> starts(1 << 16, 0);
    for (std::uint64_t key : keys) ++starts[(key >> shift) & 0xFFFF];
    std::size_t at = 0;
    for (std::size_t& start : starts) at += std::exchange(start, at);
    for (std::uint64_t key : keys) spare[starts[(key >> shift) & 0xFFFF]++] = key;
    keys.swap(spare);
  }
  return keys;
}

// The builder lays members one after another behind the table. Spans that
// overlap each other, or the header and table, would let a small archive
// write its bytes many times over (or serve its own table as a member).
std::string CheckSpans(const TocEntries& entries, bool compressed, std::int64_t table_end) {
  std::int64_t end = table_end;
  std::size_t before = entries.size();
  for (std::uint64_t key : SpansInOffsetOrder(entries, compressed)) {
    const auto i = static_cast<std::size_t>(key & 0xFFFFFFFF);
    const TocEntry& entry = entries[i];
    if (entry.data_offset < end) {
      if (before == entries.size())
        return Entry(entries, i) + " has data inside the header or table";
      return Entry(entries, i) + " overlaps " + Entry(entries, before);
    }
    end = entry.data_offset + StoredSpan(entry, compressed);
    before = i;
  }
  return "";
}

}  // namespace

std::string LoadArchiveTable(const ArchiveBytes& bytes, ArchiveTable& table) {
  table = ArchiveTable{};
  // Even an archive without members has its header.
  if (bytes.size < static_cast<std::int64_t>(kHeaderSize))
    return "the file is shorter than its 16-byte header";
  std::uint8_t header_bytes[kHeaderSize];
  if (!ReadArchiveBytes(bytes, 0, header_bytes, kHeaderSize)) return "its header cannot be read";
  const ArchiveHeader header = DecodeHeader(header_bytes);
  const std::int32_t count = header.count;
  if (count < 0) return "its file count " + std::to_string(count) + " is negative";
  std::int64_t table_end =
      static_cast<std::int64_t>(kHeaderSize) + static_cast<std::int64_t>(kRecordSize) * count;
  if (table_end > bytes.size)
    return "its table of " + std::to_string(count) + " entries does not fit in the file";
  TocEntries entries(static_cast<std::size_t>(count), TocEntries::Start::kUnset);
  if (!ReadArchiveBytes(bytes, kHeaderSize, reinterpret_cast<std::uint8_t*>(entries.data()),
                        kRecordSize * entries.size()))
    return "its table cannot be read";
  const bool compressed = header.compressed != 0;
  // Keys are checked here, while each record is at hand, rather than in a
  // second pass over a table that may not fit any cache.
  bool in_key_order = true;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    TocEntry& entry = entries[i];
    DecodeTocEntryInPlace(entry);
    if (std::memchr(entry.name, '\0', kNameSize) == nullptr)
      return "entry " + std::to_string(i) + " has an unterminated name";
    if (const char* fault = EntryFault(entry, compressed, bytes.size))
      return Entry(entries, i) + " " + fault;
    in_key_order = in_key_order && (i == 0 || entries[i - 1].crc <= entry.crc) &&
                   entry.crc == NameCrc(entry.name);
  }
  std::string problem = CheckSpans(entries, compressed, table_end);
  if (problem.empty()) {
    table.header = header;
    table.entries = std::move(entries);
    table.in_key_order = in_key_order;
  }
  return problem;
}

bool ReadArchiveBytes(const ArchiveBytes& bytes, std::int64_t offset, std::uint8_t* out,
                      std::size_t size) {
  // An empty table has no buffer to copy into.
  if (size == 0) return true;
  if (bytes.reader != nullptr) return ReadExactlyAt(*bytes.reader, out, size, offset);
  if (bytes.file == kNoFile) {
    std::memcpy(out, bytes.memory.data() + offset, size);
    return true;
  }
  return ReadFullAt(bytes.file, out, size, offset) == static_cast<std::int64_t>(size);
}

std::unique_ptr<ByteSource> ArchiveRange(const ArchiveBytes& bytes, std::int64_t offset,
                                         std::int64_t length) {
  if (bytes.reader != nullptr)
    return std::make_unique<ReaderRangeSource>(*bytes.reader, offset, length);
  if (bytes.file != kNoFile) return std::make_unique<FileRangeSource>(bytes.file, offset, length);
  return std::make_unique<MemorySource>(
      bytes.memory.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length)));
}

NameIndex BuildNameIndex(const ArchiveTable& table) {
  NameIndex index;
  index.reserve(table.entries.size());
  for (std::size_t i = 0; i < table.entries.size(); ++i)
    index.emplace(std::string_view(table.entries[i].name), i);
  return index;
}

std::string_view LooseName(std::string_view name, char* out) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    out[i] = c == '\\' ? '/' : c;
  }
  return {out, name.size()};
}

LooseIndex BuildLooseIndex(const ArchiveTable& table) {
  LooseIndex index;
  index.reserve(table.entries.size());
  char loose[kNameSize];
  for (std::size_t i = 0; i < table.entries.size(); ++i) {
    const std::string_view key = LooseName(table.entries[i].name, loose);
    auto found = index.find(key);
    if (found == index.end())
      found = index.emplace(std::string(key), std::vector<std::uint32_t>{}).first;
    found->second.push_back(static_cast<std::uint32_t>(i));
  }
  return index;
}

}  // namespace quiver
