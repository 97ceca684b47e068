#include "archive_layout.h"

#include <cstring>

namespace quiver {
namespace {

void PutU32(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
  out[2] = static_cast<std::uint8_t>(value >> 16);
  out[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t GetU32(const std::uint8_t* in) {
  return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
         static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

void PutI32(std::uint8_t* out, std::int32_t value) {
  PutU32(out, static_cast<std::uint32_t>(value));
}
std::int32_t GetI32(const std::uint8_t* in) {
  return static_cast<std::int32_t>(GetU32(in));
}

}  // namespace

void EncodeHeader(const ArchiveHeader& header, std::uint8_t* out) {
  PutI32(out + 0, header.count);
  PutI32(out + 4, header.compressed);
  PutU32(out + 8, header.reserved1);
  PutU32(out + 12, header.reserved2);
}

ArchiveHeader DecodeHeader(const std::uint8_t* in) {
  ArchiveHeader header;
  header.count = GetI32(in + 0);
  header.compressed = GetI32(in + 4);
  header.reserved1 = GetU32(in + 8);
  header.reserved2 = GetU32(in + 12);
  return header;
}

void EncodeTocEntry(const TocEntry& entry, std::uint8_t* out) {
  PutU32(out + 0, entry.crc);
  PutI32(out + 4, entry.original_length);
  PutI32(out + 8, entry.data_offset);
  PutI32(out + 12, entry.compressed_length);
  std::memcpy(out + 16, entry.name, kNameSize);
}

TocEntry DecodeTocEntry(const std::uint8_t* in) {
  TocEntry entry;
  entry.crc = GetU32(in + 0);
  entry.original_length = GetI32(in + 4);
  entry.data_offset = GetI32(in + 8);
  entry.compressed_length = GetI32(in + 12);
  std::memcpy(entry.name, in + 16, kNameSize);
  return entry;
}

}  // namespace quiver
