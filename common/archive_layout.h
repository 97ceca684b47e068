// The archive file shared by both programs: a 16-byte header, a table of
// 272-byte records, then the members' bytes. All integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quiver {

inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kRecordSize = 272;
inline constexpr std::size_t kNameSize = 256;
inline constexpr char kArchiveExtension[] = ".qvr";
// A base name leaves room for a four-character extension and the NUL.
inline constexpr std::size_t kMaxBaseName = kNameSize - 5;
// Stored bytes move through one buffer of this size in both programs.
inline constexpr std::size_t kCopyBufferSize = 0x100000;
// Offsets and lengths are signed 32-bit fields.
inline constexpr std::int64_t kMaxArchiveSize = 0x7FFFFFFF;

struct ArchiveHeader {
  std::int32_t count = 0;
  std::int32_t compressed = 0;
  std::uint32_t reserved1 = 0;
  std::uint32_t reserved2 = 0;
};

struct TocEntry {
  std::uint32_t crc = 0;
  std::int32_t original_length = 0;
  std::int32_t data_offset = 0;
  std::int32_t compressed_length = 0;
  char name[kNameSize] = {};
};

static_assert(sizeof(TocEntry) == kRecordSize && offsetof(TocEntry, name) == 16,
              "a record's image can be read straight into its TocEntry");

void EncodeHeader(const ArchiveHeader& header, std::uint8_t* out);
ArchiveHeader DecodeHeader(const std::uint8_t* in);
void EncodeTocEntry(const TocEntry& entry, std::uint8_t* out);
TocEntry DecodeTocEntry(const std::uint8_t* in);
// A record whose image was read into `entry` itself, decoded in place: its
// name is already where it belongs. Inline: it runs for every record of a
// table being opened.
inline void DecodeTocEntryInPlace(TocEntry& entry) {
  std::uint8_t image[offsetof(TocEntry, name)];
  std::memcpy(image, &entry, sizeof image);
  const auto field = [&image](int at) {
    return static_cast<std::uint32_t>(image[at]) | static_cast<std::uint32_t>(image[at + 1]) << 8 |
           static_cast<std::uint32_t>(image[at + 2]) << 16 |
           static_cast<std::uint32_t>(image[at + 3]) << 24;
  };
  entry.crc = field(0);
  entry.original_length = static_cast<std::int32_t>(field(4));
  entry.data_offset = static_cast<std::int32_t>(field(8));
  entry.compressed_length = static_cast<std::int32_t>(field(12));
}

// Bytes a member occupies in the data area.
inline std::int64_t StoredSpan(const TocEntry& entry, bool archive_compressed) {
  return archive_compressed && entry.compressed_length != 0 ? entry.compressed_length
                                                            : entry.original_length;
}

inline bool IsCompressedMember(const TocEntry& entry, bool archive_compressed) {
  return archive_compressed && entry.compressed_length != 0;
}

}  // namespace quiver
