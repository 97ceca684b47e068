// Archive images made by hand, byte for byte, for tests, benchmarks and the
// fuzz seeds: sound ones to hold the programs to, hostile ones to refuse.
#pragma once

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "test_data.h"

namespace quiver::test {

// A record's data placed after the table, behind the data of the records
// before it.
inline constexpr std::int32_t kAfterTable = INT32_MIN;

struct ImageRecord {
  std::string name;  // cut at 256 bytes, so a name may lack its terminator
  std::int32_t original_length = 0;
  std::int32_t data_offset = kAfterTable;
  std::int32_t compressed_length = 0;
  Bytes data;  // appended after the table in record order
  std::uint32_t crc = 0;
};

// The records in table order, their data behind the table. `count` stands
// in the header instead of the number of records where it is given.
Bytes ArchiveImage(const std::vector<ImageRecord>& records, std::int32_t compressed = 0,
                   std::optional<std::int32_t> count = std::nullopt);

// A member stored raw.
ImageRecord Stored(const std::string& name, const std::string& text);

using Members = std::vector<std::pair<std::string, Bytes>>;

// What a stored build of `members`, in this order, must write: data in list
// order, the table sorted by key, equal keys in list order.
Bytes StoredBuild(const Members& members);

}  // namespace quiver::test
