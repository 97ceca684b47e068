#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive_image.h"
#include "archive_layout.h"
#include "archive_table.h"
#include "member_path.h"
#include "name_crc.h"
#include "platform.h"

namespace quiver {
namespace {

TEST(NameCrcTest, KnownKeysAndCaseFolding) {
  EXPECT_EQ(NameCrc("abc"), 0xCA6598D0u);
  EXPECT_EQ(NameCrc("ABC"), 0xCA6598D0u);
  EXPECT_EQ(NameCrc("a"), 0x3AB551CEu);
  EXPECT_EQ(NameCrc(""), 0u);
  // Only ASCII letters fold; high bytes are keyed as they are.
  EXPECT_NE(NameCrc("\xC4"), NameCrc("\xE4"));
  EXPECT_EQ(NameCrc("Maps\\Level1.DAT"), NameCrc("maps\\level1.dat"));
}

TEST(NameCrcTest, FourBytesAtOnceAsOneByteAtATime) {
  // Every length, and every kind of byte: letters of both cases, the bytes
  // beside them, and bytes with the high bit set.
  const auto one_at_a_time = [](const std::string& name) {
    std::uint32_t value = 0;
    for (unsigned char byte : name) {
      if (byte >= 'A' && byte <= 'Z') byte = static_cast<unsigned char>(byte + 32);
      value ^= byte;
      for (int bit = 0; bit < 8; ++bit) value = value & 1 ? value >> 1 ^ 0xEDB88320u : value >> 1;
    }
    return value;
  };
  const unsigned char kinds[] = {'@',  'A',  'M',  'Z',  '[',  '`',  'a',  'z', '{',
                                 0x7F, 0x80, 0xC1, 0xDA, 0xE1, 0xFF, '\\', '.', '0'};
  std::uint32_t seed = 1;
  for (std::size_t length = 0; length <= 40; ++length) {
    for (int round = 0; round < 20; ++round) {
      std::string name;
      for (std::size_t i = 0; i < length; ++i) {
        seed = seed * 1103515245u + 12345u;
        name += static_cast<char>(kinds[(seed >> 16) % sizeof kinds]);
      }
      EXPECT_EQ(NameCrc(name.c_str()), one_at_a_time(name)) << name;
    }
  }
}

TEST(ArchiveLayoutTest, HeaderImageIsLittleEndianFieldByField) {
  ArchiveHeader header;
  header.count = 0x01020304;
  header.compressed = 1;
  std::uint8_t bytes[kHeaderSize];
  EncodeHeader(header, bytes);
  const std::uint8_t expected[kHeaderSize] = {4, 3, 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(bytes, expected, kHeaderSize), 0);
  ArchiveHeader back = DecodeHeader(bytes);
  EXPECT_EQ(back.count, header.count);
  EXPECT_EQ(back.compressed, 1);
}

TEST(ArchiveLayoutTest, RecordImageRoundTripsWithNegativeAndHighValues) {
  TocEntry entry;
  entry.crc = 0xCA6598D0u;
  entry.original_length = -2;
  entry.data_offset = 832;
  entry.compressed_length = 0x7FFFFFFF;
  std::strcpy(entry.name, "maps\\level1\\door.dat");
  std::uint8_t bytes[kRecordSize];
  EncodeTocEntry(entry, bytes);
  EXPECT_EQ(bytes[0], 0xD0);
  EXPECT_EQ(bytes[3], 0xCA);
  EXPECT_EQ(bytes[4], 0xFE);
  EXPECT_EQ(bytes[7], 0xFF);
  EXPECT_EQ(bytes[8], 0x40);
  EXPECT_EQ(bytes[9], 0x03);
  EXPECT_EQ(bytes[16], 'm');
  TocEntry back = DecodeTocEntry(bytes);
  EXPECT_EQ(back.crc, entry.crc);
  EXPECT_EQ(back.original_length, -2);
  EXPECT_EQ(back.data_offset, 832);
  EXPECT_EQ(back.compressed_length, 0x7FFFFFFF);
  EXPECT_STREQ(back.name, entry.name);
}

TEST(ArchiveLayoutTest, StoredSpanFollowsTheHeaderFlag) {
  TocEntry entry;
  entry.original_length = 100;
  entry.compressed_length = 40;
  EXPECT_EQ(StoredSpan(entry, true), 40);
  EXPECT_EQ(StoredSpan(entry, false), 100);
  entry.compressed_length = 0;
  EXPECT_EQ(StoredSpan(entry, true), 100);
}

TEST(ArchiveTableTest, OverlapsAreFoundInSmallAndLargeTablesAlike) {
  // Spans are put in offset order one way for tables of fewer than 65,536
  // members and another for more; both find the same overlap: a member in
  // the middle of the table whose data is the last one's.
  for (const std::size_t count : {3, 70000}) {
    std::vector<test::ImageRecord> records;
    for (std::size_t i = 0; i < count; ++i)
      records.push_back(test::Stored(std::to_string(i), "abcd"));
    records[count / 2].data_offset =
        static_cast<std::int32_t>(kHeaderSize + kRecordSize * count + 4 * (count - 1));
    const test::Bytes image = test::ArchiveImage(records);
    ArchiveTable table;
    std::string expected = "entry ";
    for (const std::size_t i : {count - 1, count / 2}) {
      expected += std::to_string(i);
      expected += " (";
      expected += std::to_string(i);
      expected += i == count / 2 ? ")" : ") overlaps entry ";
    }
    EXPECT_EQ(
        LoadArchiveTable({kNoFile, image, nullptr, static_cast<std::int64_t>(image.size())}, table),
        expected);
  }
}

struct WindowsName {
  const char* name;
  const char* reason;  // nullptr: allowed
};

TEST(MemberPathTest, WindowsRefusesDevicesTrailingDotsColonsAndItsReservedCharacters) {
  const WindowsName cases[] = {
      {"CON", "device name"},
      {"dir\\con.txt", "device name"},
      {"Lpt9.tar.gz", "device name"},
      {"aux .txt", "device name"},
      {"a\\nul\\b", "device name"},
      {"COM0", nullptr},
      {"COM10", nullptr},
      {"CONSOLE", nullptr},
      {"icon.txt", nullptr},
      {"dir.\\x", "name ending in a dot or a space"},
      {"x ", "name ending in a dot or a space"},
      {"...\\victim", "name ending in a dot or a space"},
      {".. \\victim", "name ending in a dot or a space"},
      {"a\\.\\b", nullptr},
      {".hidden", nullptr},
      {"file.txt:stream", "colon"},
      {"what?", "character Windows refuses"},
      {"a<b", "character Windows refuses"},
      {"pipe|d", "character Windows refuses"},
      {"tab\there", "character Windows refuses"},
      {"caf\xC3\xA9.txt", nullptr},
      {"\xF0\x9F\x8E\xAF.png", nullptr},
      {"latin1-\xE9.txt", "not UTF-8"},
      {"overlong-\xC0\xAF", "not UTF-8"},
      {"surrogate-\xED\xA0\x80", "not UTF-8"},
      {"cut-\xE2\x82", "not UTF-8"},
  };
  for (const WindowsName& c : cases) {
    const char* reason = WindowsUnsafeNameReason(c.name);
    if (c.reason == nullptr)
      EXPECT_EQ(reason, nullptr) << c.name << ": " << reason;
    else
      EXPECT_STREQ(reason, c.reason) << c.name;
    // Where names follow Linux's rules, they stay as they are there.
    const char* here = UnsafeNameReason(c.name);
    EXPECT_STREQ(here == nullptr ? "allowed" : here,
                 kWindowsFileNames && c.reason != nullptr ? c.reason : "allowed")
        << c.name;
  }
}

}  // namespace
}  // namespace quiver
