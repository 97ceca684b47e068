// The reader library's file system on an arbitrary archive image: streams
// driven by reads and seeks that the input chooses, held against a whole
// Read of each member, and listings held against Stat and mounts.
//
// The input is the image itself, so the archive seeds serve as they are.
// Its last byte n says how many bytes before it script the streams (an
// archive ignores bytes past its members, and the script's bytes may be a
// member's bytes as well).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "quiver/reader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Check(bool holds) {
  if (!holds) std::abort();
}

// The image read through the Source interface, in pieces of up to 7 bytes.
class PieceSource : public quiver::Source {
 public:
  explicit PieceSource(std::span<const std::uint8_t> image) : image_(image) {}
  std::int64_t ReadAt(std::uint8_t* out, std::size_t size, std::int64_t offset) override {
    const std::size_t count =
        std::min({size, image_.size() - static_cast<std::size_t>(offset), std::size_t{7}});
    std::copy_n(image_.begin() + offset, count, out);
    return static_cast<std::int64_t>(count);
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(image_.size()); }

 private:
  std::span<const std::uint8_t> image_;
};

// The script's bytes, read on past its end as zeros.
class Script {
 public:
  explicit Script(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool done() const { return next_ >= bytes_.size(); }
  std::uint32_t Take(int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++next_)
      value |= static_cast<std::uint32_t>(next_ < bytes_.size() ? bytes_[next_] : 0) << (8 * i);
    return value;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t next_ = 0;
};

// What a whole Read says of a member, and the bytes its decoder gives
// before any error.
struct Expected {
  quiver::Status status;
  Bytes bytes;
};

Expected ExpectedOf(const quiver::Archive& archive, std::size_t index) {
  Expected expected;
  expected.status = archive.Read(index, expected.bytes);
  if (!expected.status) {
    archive.ReadChunks(index, [&expected](const std::uint8_t* data, std::size_t size) {
      expected.bytes.insert(expected.bytes.end(), data, data + size);
      return true;
    });
  }
  return expected;
}

// A read of `got` bytes at `position`, or its failure, as the whole Read
// allows it.
void CheckRead(const Expected& expected, std::int64_t size, std::int64_t position,
               std::size_t asked, const quiver::Status& status, const Bytes& out, std::size_t got) {
  if (asked == 0) {
    Check(status.ok() && got == 0);
    return;
  }
  if (!status) {
    Check(!expected.status && status.code() == expected.status.code() && got == 0);
    return;
  }
  if (position >= size) {
    Check(got == 0);
    return;
  }
  Check(got == std::min<std::uint64_t>(asked, static_cast<std::uint64_t>(size - position)));
  Check(static_cast<std::size_t>(position) + got <= expected.bytes.size());
  Check(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(got),
                   expected.bytes.begin() + position));
}

void DriveStream(const quiver::Archive& archive, std::size_t index, Script& script) {
  const Expected expected = ExpectedOf(archive, index);
  quiver::Stream stream;
  Check(archive.OpenStream(index, stream).ok());
  const std::int64_t size = stream.Size();
  Check(size == archive.member(index).original_length);
  std::int64_t position = 0;
  for (int step = 0; step < 16 && !script.done(); ++step) {
    const std::uint32_t op = script.Take(1);
    if (op % 4 == 3) break;
    if (op % 4 == 1) {
      const auto whence = static_cast<quiver::Stream::Whence>(op / 4 % 3);
      const auto offset = static_cast<std::int64_t>(static_cast<std::int16_t>(script.Take(2))) * 37;
      const std::int64_t base = whence == quiver::Stream::Whence::kSet       ? 0
                                : whence == quiver::Stream::Whence::kCurrent ? position
                                                                             : size;
      const quiver::Status status = stream.Seek(offset, whence);
      Check(status.ok() == (base + offset >= 0));
      if (status) position = base + offset;
      Check(stream.Tell() == position);
      continue;
    }
    const std::size_t asked = script.Take(2) % 70000;
    Bytes out(asked);
    std::size_t got = 0;
    if (op % 4 == 0) {
      const quiver::Status status = stream.Read(out.data(), asked, got);
      CheckRead(expected, size, position, asked, status, out, got);
      position += static_cast<std::int64_t>(got);
    } else {
      const std::int64_t at = script.Take(3) % (size + 100);
      const quiver::Status status = stream.ReadAt(at, out.data(), asked, got);
      CheckRead(expected, size, at, asked, status, out, got);
    }
    Check(stream.Tell() == position);
  }
  // Read to its end from the start, a stream agrees with the whole Read.
  Bytes all(static_cast<std::size_t>(size) + 1);
  std::size_t got = 0;
  const quiver::Status status = stream.ReadAt(0, all.data(), all.size(), got);
  Check(status.ok() == expected.status.ok());
  if (status)
    Check(got == static_cast<std::size_t>(size) &&
          std::equal(expected.bytes.begin(), expected.bytes.end(), all.begin()));
  else
    Check(status.code() == expected.status.code());
}

bool LooseEqual(std::string_view a, std::string_view b) {
  const auto fold = [](char c) {
    if (c == '\\') return '/';
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&fold](char x, char y) { return fold(x) == fold(y); });
}

// Every entry of the tree once, agreeing with Stat; the same through mounts.
void CheckTree(const quiver::Archive& archive) {
  std::vector<std::string> walked;
  const quiver::Status status = archive.Walk("", [&](const quiver::DirEntry& entry) {
    quiver::EntryInfo info;
    Check(archive.Stat(entry.path, info).ok());
    Check(info.directory == entry.info.directory);
    if (entry.info.directory) {
      Check(archive.List(entry.path, [](const quiver::DirEntry&) { return true; }).ok());
    } else {
      Check(entry.info.index < archive.size());
      Check(LooseEqual(archive.member(entry.info.index).name, entry.path));
      Check(entry.info.size == archive.member(entry.info.index).original_length);
    }
    walked.push_back(std::string(entry.path) + (entry.info.directory ? "/" : ""));
    return true;
  });
  Check(status.ok());
  quiver::Mounts mounts;
  Check(mounts.MountArchive(archive).ok());
  std::size_t next = 0;
  Check(mounts
            .Walk("",
                  [&](const quiver::DirEntry& entry) {
                    Check(next < walked.size() &&
                          walked[next++] ==
                              std::string(entry.path) + (entry.info.directory ? "/" : ""));
                    return true;
                  })
            .ok());
  Check(next == walked.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> image(data, size);
  const std::size_t length = std::min<std::size_t>(data[size - 1], size - 1);
  Script script(image.subspan(size - 1 - length, length));
  quiver::Archive archive;
  const bool through_source = script.Take(1) % 2 == 1;
  const quiver::Status opened = through_source
                                    ? archive.OpenSource(std::make_unique<PieceSource>(image))
                                    : archive.OpenMemory(image);
  if (!opened) return 0;
  for (std::size_t i = 0; i < archive.size() && i < 8; ++i) DriveStream(archive, i, script);
  CheckTree(archive);
  return 0;
}
