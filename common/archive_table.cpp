#include "archive_table.h"

#include <algorithm>
#include <cstring>

#include "shown_name.h"
#include "stream_format.h"

namespace quiver {
namespace {

std::string CheckEntry(const TocEntry& entry, std::size_t index, bool compressed,
                       std::int64_t size) {
  std::string at = "entry " + std::to_string(index);
  if (std::memchr(entry.name, '\0', kNameSize) == nullptr) return at + " has an unterminated name";
  // Names reach a console in these messages: shown as a console may show them.
  at += " (" + ShownName(entry.name) + ")";
  if (entry.original_length < 0 || entry.compressed_length < 0)
    return at + " has a negative length";
  // A record that promises more than its stream can yield is damaged (and
  // would make readers reserve memory for nothing).
  if (IsCompressedMember(entry, compressed) &&
      entry.original_length >
          kMaxBytesPerStreamByte * static_cast<std::int64_t>(entry.compressed_length))
    return at + " is longer than its stream can hold";
  std::int64_t span = StoredSpan(entry, compressed);
  if (entry.data_offset < 0 || entry.data_offset + span > size)
    return at + " has data outside the file";
  return "";
}

// The builder lays members one after another behind the table. Spans that
// overlap each other, or the header and table, would let a small archive
// write its bytes many times over (or serve its own table as a member).
std::string CheckSpans(const ArchiveTable& table, std::int64_t table_end) {
  const bool compressed = table.header.compressed != 0;
  std::vector<std::size_t> order;
  order.reserve(table.entries.size());
  for (std::size_t i = 0; i < table.entries.size(); ++i)
    if (StoredSpan(table.entries[i], compressed) > 0) order.push_back(i);
  // Ties in table order, so the report names the same pair every time.
  std::sort(order.begin(), order.end(), [&table](std::size_t a, std::size_t b) {
    const std::int32_t x = table.entries[a].data_offset;
    const std::int32_t y = table.entries[b].data_offset;
    return x != y ? x < y : a < b;
  });
  std::int64_t end = table_end;
  std::size_t before = table.entries.size();
  for (std::size_t i : order) {
    const TocEntry& entry = table.entries[i];
    const std::string at = "entry " + std::to_string(i) + " (" + ShownName(entry.name) + ")";
    if (entry.data_offset < end) {
      if (before == table.entries.size()) return at + " has data inside the header or table";
      return at + " overlaps entry " + std::to_string(before) + " (" +
             ShownName(table.entries[before].name) + ")";
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
  table.header = DecodeHeader(header_bytes);
  const std::int32_t count = table.header.count;
  if (count < 0) return "its file count " + std::to_string(count) + " is negative";
  std::int64_t table_end =
      static_cast<std::int64_t>(kHeaderSize) + static_cast<std::int64_t>(kRecordSize) * count;
  if (table_end > bytes.size)
    return "its table of " + std::to_string(count) + " entries does not fit in the file";
  std::vector<std::uint8_t> raw(kRecordSize * static_cast<std::size_t>(count));
  if (!ReadArchiveBytes(bytes, kHeaderSize, raw.data(), raw.size()))
    return "its table cannot be read";
  table.entries.resize(static_cast<std::size_t>(count));
  const bool compressed = table.header.compressed != 0;
  for (std::size_t i = 0; i < table.entries.size(); ++i) {
    table.entries[i] = DecodeTocEntry(raw.data() + kRecordSize * i);
    std::string problem = CheckEntry(table.entries[i], i, compressed, bytes.size);
    if (!problem.empty()) {
      table = ArchiveTable{};
      return problem;
    }
  }
  std::string problem = CheckSpans(table, table_end);
  if (!problem.empty()) table = ArchiveTable{};
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
