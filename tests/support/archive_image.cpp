#include "archive_image.h"

#include <algorithm>
#include <cstring>

#include "archive_layout.h"
#include "name_crc.h"

namespace quiver::test {

Bytes ArchiveImage(const std::vector<ImageRecord>& records, std::int32_t compressed,
                   std::optional<std::int32_t> count) {
  Bytes out(kHeaderSize + kRecordSize * records.size());
  ArchiveHeader header;
  header.count = count.value_or(static_cast<std::int32_t>(records.size()));
  header.compressed = compressed;
  EncodeHeader(header, out.data());
  auto offset = static_cast<std::int32_t>(out.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ImageRecord& record = records[i];
    TocEntry entry;
    std::memcpy(entry.name, record.name.data(), std::min(record.name.size(), kNameSize));
    entry.crc = record.crc;
    entry.original_length = record.original_length;
    entry.compressed_length = record.compressed_length;
    entry.data_offset = record.data_offset != kAfterTable ? record.data_offset : offset;
    offset += static_cast<std::int32_t>(record.data.size());
    EncodeTocEntry(entry, out.data() + kHeaderSize + kRecordSize * i);
  }
  for (const ImageRecord& record : records)
    out.insert(out.end(), record.data.begin(), record.data.end());
  return out;
}

ImageRecord Stored(const std::string& name, const std::string& text) {
  ImageRecord record;
  record.name = name;
  record.original_length = static_cast<std::int32_t>(text.size());
  record.data = Text(text);
  return record;
}

Bytes StoredBuild(const Members& members) {
  std::vector<ImageRecord> table;
  auto offset = static_cast<std::int32_t>(kHeaderSize + kRecordSize * members.size());
  Bytes data;
  for (const auto& [name, bytes] : members) {
    ImageRecord record;
    record.name = name;
    record.crc = NameCrc(name.c_str());
    record.original_length = static_cast<std::int32_t>(bytes.size());
    record.data_offset = offset;
    offset += record.original_length;
    data.insert(data.end(), bytes.begin(), bytes.end());
    table.push_back(record);
  }
  std::stable_sort(table.begin(), table.end(),
                   [](const ImageRecord& a, const ImageRecord& b) { return a.crc < b.crc; });
  Bytes out = ArchiveImage(table);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

}  // namespace quiver::test
