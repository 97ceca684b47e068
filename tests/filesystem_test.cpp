// The reader library as a program's file system: listings and Stat of
// archives and of layered mounts, streams that read and seek anywhere in
// stored and compressed members, an archive read through a caller's
// source, and hostile archives through every one of these.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "archive_layout.h"
#include "quiver/reader.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace quiver::test {
namespace {

// One line per entry: its path, "/" after a directory, else its size and
// "c" when compressed; and its mount where it came through mounts.
template <typename FileSystem>
std::vector<std::string> Listed(const FileSystem& files, const std::string& directory,
                                bool deep = false, bool mounts = false) {
  std::vector<std::string> lines;
  const auto visit = [&](const DirEntry& entry) {
    EXPECT_EQ(entry.path.substr(entry.path.size() - entry.name.size()), entry.name);
    std::string line(entry.path);
    if (entry.info.directory) {
      line += "/";
    } else {
      line += ' ';
      line += std::to_string(entry.info.size);
      if (entry.info.compressed) line += 'c';
    }
    if (mounts) {
      line += " @";
      line += std::to_string(entry.info.mount);
    }
    lines.push_back(line);
    return true;
  };
  const Status status = deep ? files.Walk(directory, visit) : files.List(directory, visit);
  if (!status) lines.push_back("(" + status.message() + ")");
  return lines;
}

using Lines = std::vector<std::string>;

// Every byte of a stream, read in pieces of `piece` bytes.
Bytes ReadInPieces(Stream& stream, std::size_t piece) {
  Bytes all;
  Bytes buffer(piece);
  for (;;) {
    std::size_t got = 0;
    const Status status = stream.Read(buffer.data(), buffer.size(), got);
    EXPECT_TRUE(status) << status.message();
    if (!status || got == 0) return all;
    EXPECT_TRUE(got == piece || stream.Tell() == stream.Size());
    all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
  }
}

std::string Failed(Status::Code code) {
  std::string text = "(code ";
  text += std::to_string(static_cast<int>(code));
  text += ')';
  return text;
}

// `size` bytes at `position`, or the status's code as Failed shows it.
std::string ReadAtText(Stream& stream, std::int64_t position, std::size_t size) {
  std::string out(size, '\0');
  std::size_t got = 0;
  const Status status =
      stream.ReadAt(position, reinterpret_cast<std::uint8_t*>(out.data()), size, got);
  if (!status) return Failed(status.code());
  out.resize(got);
  return out;
}

class FileSystemTest : public ScratchTest {};

// Names as programs and modders write them, and as nobody should: each
// directory exists only as the beginning of members' names.
const std::vector<ImageRecord>& OddTree() {
  static const std::vector<ImageRecord> records = {
      Stored("Maps\\Level1.map", "one"),
      Stored("maps/level2.map", "two!"),
      Stored("MAPS\\Sub\\deep.txt", "deep"),
      Stored("readme.txt", "first"),
      Stored("README.TXT", "second"),
      Stored("a\\b\\c\\d.dat", "d"),
      Stored("both", "a file"),
      Stored("Both\\inside", "hidden"),
      Stored("/absolute", "abs"),
      Stored("..\\parent", "up"),
      Stored("c:\\drive", "drv"),
      Stored("double\\\\sep", "dbl"),
      Stored("dot\\.\\x", "dot"),
      Stored("trailing\\", "tr"),
  };
  return records;
}

TEST_F(FileSystemTest, AnArchiveListsItsDirectoriesLoosely) {
  const Bytes image = ArchiveImage(OddTree());
  Archive archive;
  ASSERT_TRUE(archive.OpenMemory(image));
  // Loose byte order; one entry per loose name, spelled by the first
  // member in table order; a member hides a directory of its name; names
  // that are no plain relative path stay out.
  EXPECT_EQ(Listed(archive, ""), (Lines{"a/", "both 6", "Maps/", "readme.txt 5"}));
  EXPECT_EQ(Listed(archive, "MAPS/"),
            (Lines{"MAPS/Level1.map 3", "MAPS/level2.map 4", "MAPS/Sub/"}));
  EXPECT_EQ(Listed(archive, "\\a//B"), (Lines{"a/B/c/"}));
  EXPECT_EQ(Listed(archive, "/", true),
            (Lines{"a/", "a/b/", "a/b/c/", "a/b/c/d.dat 1", "both 6", "Maps/", "Maps/Level1.map 3",
                   "Maps/level2.map 4", "Maps/Sub/", "Maps/Sub/deep.txt 4", "readme.txt 5"}));
  EXPECT_EQ(Listed(archive, "readme.txt"), (Lines{"(not a directory: readme.txt)"}));
  EXPECT_EQ(Listed(archive, "Both"), (Lines{"(not a directory: Both)"}));
  EXPECT_EQ(Listed(archive, "nowhere"), (Lines{"(no such file or directory: nowhere)"}));
  EXPECT_EQ(Listed(archive, "maps/.."), (Lines{"(no such file or directory: maps/..)"}));
  int seen = 0;
  EXPECT_EQ(archive.Walk("", [&seen](const DirEntry&) { return ++seen < 3; }).code(),
            Status::Code::kStopped);
  EXPECT_EQ(seen, 3);

  EntryInfo info;
  ASSERT_TRUE(archive.Stat("MAPS/sub/DEEP.TXT", info));
  EXPECT_FALSE(info.directory);
  EXPECT_EQ(info.size, 4);
  EXPECT_STREQ(archive.member(info.index).name, "MAPS\\Sub\\deep.txt");
  // A path with separators to spare names the same file.
  ASSERT_TRUE(archive.Stat("/maps//sub/deep.txt", info));
  EXPECT_STREQ(archive.member(info.index).name, "MAPS\\Sub\\deep.txt");
  for (const char* directory : {"", "/", "maps", "A\\B", "a/b/c/", "Both"}) {
    ASSERT_TRUE(archive.Stat(directory, info)) << directory;
    EXPECT_EQ(info.directory, std::string(directory) != "Both") << directory;
  }
  // The odd names still open by name.
  for (const char* name : {"/absolute", "..\\parent", "C:/drive", "trailing/"}) {
    ASSERT_TRUE(archive.Stat(name, info)) << name;
    EXPECT_FALSE(info.directory);
  }
  EXPECT_EQ(archive.Stat("map", info).code(), Status::Code::kNotFound);
  EXPECT_EQ(archive.Stat(std::string("maps\0", 5), info).code(), Status::Code::kNotFound);
  EXPECT_EQ(archive.Stat(std::string(300, 'a'), info).code(), Status::Code::kNotFound);

  // An archive that is not open is an empty one.
  Archive closed;
  EXPECT_EQ(Listed(closed, ""), Lines{});
  EXPECT_EQ(closed.Stat("x", info).code(), Status::Code::kNotFound);
}

// A base archive, a compressed patch over it, an archive held in memory
// over both, and loose files over all of them.
class LayeredMountsTest : public FileSystemTest {
 protected:
  void SetUp() override {
    FileSystemTest::SetUp();
    BuildArchive({{"maps\\level1.map", Text("base one")},
                  {"maps\\level2.map", Text("base two")},
                  {"sounds\\beep.raw", RunsData(5000, 1)},
                  {"textures", Text("a file that hides a directory")}},
                 "", "base");
    BuildArchive({{"Maps/Level1.map", TextData(3000, 2)}, {"textures\\wall.png", Text("wall")}},
                 "-c", "patch");
    memory_image_ = ArchiveImage({Stored("Maps\\new\\level3.map", "new three")});
    Write("loose/maps/level2.map", std::string("loose two"));
    Write("loose/maps/readme.txt", std::string("loose readme"));
    fs::create_directories(Path("loose/empty"));
    ASSERT_TRUE(mounts_.MountArchive(Path("base/out.qvr")));
    ASSERT_TRUE(mounts_.MountArchive(Path("patch/out.qvr")));
    Archive memory;
    ASSERT_TRUE(memory.OpenMemory(memory_image_));
    ASSERT_TRUE(mounts_.MountArchive(memory));
    ASSERT_TRUE(mounts_.MountDirectory(Path("loose")));
  }
  void TearDown() override {
    mounts_ = Mounts();
    FileSystemTest::TearDown();
  }

  Bytes memory_image_;
  Mounts mounts_;
};

TEST_F(LayeredMountsTest, ListingsAreTheUnionWithTheLastMountWinning) {
  // "textures" is a file of the base and a directory of the patch: the
  // file wins.
  EXPECT_EQ(Listed(mounts_, "", false, true),
            (Lines{"empty/ @3", "maps/ @3", "sounds/ @0", "textures 29 @0"}));
  EXPECT_EQ(Listed(mounts_, "maps", false, true),
            (Lines{"maps/Level1.map 3000c @1", "maps/level2.map 9 @3", "maps/new/ @2",
                   "maps/readme.txt 12 @3"}));
  EXPECT_EQ(Listed(mounts_, "maps", true).size(), 5u);
  EXPECT_EQ(Listed(mounts_, "empty"), Lines{});
  EXPECT_EQ(Listed(mounts_, "textures"), (Lines{"(not a directory: textures)"}));
  EXPECT_EQ(Listed(mounts_, "../base"), (Lines{"(no such file or directory: ../base)"}));

  EntryInfo info;
  ASSERT_TRUE(mounts_.Stat("maps\\LEVEL1.map", info));
  EXPECT_EQ(info.size, 3000);
  EXPECT_TRUE(info.compressed);
  EXPECT_EQ(info.mount, 1u);
  ASSERT_TRUE(mounts_.Stat("maps/level2.map", info));
  EXPECT_EQ(info.mount, 3u);
  EXPECT_EQ(info.index, kNoIndex);
  ASSERT_TRUE(mounts_.Stat("maps/new", info));
  EXPECT_TRUE(info.directory);
  EXPECT_EQ(info.mount, 2u);
  EXPECT_EQ(mounts_.Stat("maps/none", info).code(), Status::Code::kNotFound);

  Stream stream;
  EXPECT_EQ(mounts_.OpenStream("Maps/New", stream).code(), Status::Code::kIsDirectory);
  EXPECT_EQ(mounts_.OpenStream("", stream).code(), Status::Code::kIsDirectory);
  EXPECT_EQ(mounts_.OpenStream("../secret", stream).code(), Status::Code::kNotFound);
  ASSERT_TRUE(mounts_.OpenStream("MAPS/NEW/LEVEL3.MAP", stream));
  EXPECT_EQ(ReadInPieces(stream, 4), Text("new three"));
  ASSERT_TRUE(mounts_.OpenStream("maps/readme.txt", stream));
  // The mounts may go; what is open stays readable.
  mounts_ = Mounts();
  EXPECT_EQ(ReadInPieces(stream, 5), Text("loose readme"));
}

TEST_F(LayeredMountsTest, ListingsNeverFollowALinkOutOfAMountedDirectory) {
  if (!Link(Path("base"), "loose/escape_dir") || !Link(Path("base/list.rsp"), "loose/escape"))
    GTEST_SKIP() << "no symbolic links here";
  EXPECT_EQ(Listed(mounts_, "")[0], "empty/");
  EXPECT_EQ(Listed(mounts_, "escape_dir"), (Lines{"(no such file or directory: escape_dir)"}));
  EntryInfo info;
  EXPECT_EQ(mounts_.Stat("escape", info).code(), Status::Code::kNotFound);
  Stream stream;
  EXPECT_EQ(mounts_.OpenStream("escape_dir/list.rsp", stream).code(), Status::Code::kNotFound);
}

// One member of each kind in one archive per way of opening it.
class StreamTest : public FileSystemTest {
 protected:
  void SetUp() override {
    FileSystemTest::SetUp();
    members_ = {{"records.bin", BinaryData(3 << 20, 1)},
                {"noise.bin", RandomData(200000, 2)},
                {"one", Bytes{'1'}}};
    BuildArchive(members_, "-s");
    image_ = Read("out.qvr");
    ASSERT_TRUE(from_file_.OpenFile(Path("out.qvr")));
    ASSERT_TRUE(mapped_.OpenMapped(Path("out.qvr")));
    ASSERT_TRUE(from_memory_.OpenMemory(image_));
  }

  std::vector<const Archive*> Archives() const { return {&from_file_, &mapped_, &from_memory_}; }

  Members members_;
  Bytes image_;
  Archive from_file_, mapped_, from_memory_;
};

TEST_F(StreamTest, ReadsInOddPiecesGiveTheMember) {
  for (const Archive* archive : Archives()) {
    for (const auto& [name, data] : members_) {
      const std::size_t index = *archive->Find(name);
      for (std::size_t piece : {1, 4093, 65537, (1 << 20) + 3}) {
        if (piece == 1 && data.size() > 300000) continue;
        Stream stream;
        ASSERT_TRUE(archive->OpenStream(index, stream));
        EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(data.size()));
        EXPECT_EQ(ReadInPieces(stream, piece), data) << name << " in " << piece;
      }
    }
  }
  Stream stream;
  EXPECT_EQ(from_file_.OpenStream(3, stream).code(), Status::Code::kNoSuchMember);
  EXPECT_FALSE(stream.is_open());
  std::size_t got = 5;
  std::uint8_t byte;
  EXPECT_EQ(stream.Read(&byte, 1, got).code(), Status::Code::kNotOpen);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(stream.Seek(0).code(), Status::Code::kNotOpen);
}

TEST_F(StreamTest, SeeksGoAnywhereAndReadsAtTheEndGiveNothing) {
  const Bytes& data = members_[0].second;
  const std::string text(data.begin(), data.end());
  const auto size = static_cast<std::int64_t>(data.size());
  for (const Archive* archive : Archives()) {
    Stream stream;
    ASSERT_TRUE(archive->OpenStream(*archive->Find("records.bin"), stream));
    EXPECT_TRUE(stream.Seek(-10, Stream::Whence::kEnd));
    EXPECT_EQ(stream.Tell(), size - 10);
    EXPECT_EQ(ReadAtText(stream, stream.Tell(), 100), text.substr(data.size() - 10));
    // Past the end as with a file: allowed, and nothing to read there.
    EXPECT_TRUE(stream.Seek(size + 1000));
    std::uint8_t buffer[16];
    std::size_t got = 99;
    EXPECT_TRUE(stream.Read(buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(stream.Tell(), size + 1000);
    // Before the start is refused, and the position stays.
    EXPECT_EQ(stream.Seek(-1).code(), Status::Code::kBadPosition);
    EXPECT_EQ(stream.Seek(-size - 1001, Stream::Whence::kCurrent).code(),
              Status::Code::kBadPosition);
    EXPECT_EQ(stream.Seek(INT64_MAX, Stream::Whence::kCurrent).code(), Status::Code::kBadPosition);
    EXPECT_EQ(stream.Tell(), size + 1000);
    EXPECT_EQ(ReadAtText(stream, -1, 1), Failed(Status::Code::kBadPosition));
    EXPECT_TRUE(stream.Seek(0));
    EXPECT_EQ(ReadAtText(stream, 0, 20), text.substr(0, 20));
    // Backwards and forwards across the checkpoints of a compressed member,
    // by ReadAt, which leaves the position where it was.
    std::minstd_rand next(7);
    for (int i = 0; i < 60; ++i) {
      const std::int64_t at = next() % size;
      const std::size_t length = next() % 70000;
      ASSERT_EQ(ReadAtText(stream, at, length), text.substr(at, length)) << at;
    }
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_TRUE(stream.Seek(size / 2, Stream::Whence::kCurrent));
    EXPECT_TRUE(stream.Seek(-5, Stream::Whence::kCurrent));
    std::string middle(9, '\0');
    EXPECT_TRUE(stream.Read(reinterpret_cast<std::uint8_t*>(middle.data()), 9, got));
    EXPECT_EQ(middle, text.substr(size / 2 - 5, 9));
  }
}

TEST_F(StreamTest, ManyThreadsStreamOneArchive) {
  // Each thread its own streams, and all of them one shared stream.
  Stream shared;
  ASSERT_TRUE(from_file_.OpenStream(*from_file_.Find("records.bin"), shared));
  const Bytes& records = members_[0].second;
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::minstd_rand next(t + 1);
      const Archive& archive = *Archives()[t % 3];
      for (int round = 0; round < 8; ++round) {
        const auto& [name, data] = members_[next() % members_.size()];
        Stream stream;
        if (!archive.OpenStream(*archive.Find(name), stream)) ++mismatches[t];
        // Near the start: a fresh stream decodes up to where it reads.
        const std::int64_t at = next() % std::min<std::size_t>(data.size(), 300000);
        Bytes out(std::min<std::size_t>(5000, data.size() - at));
        std::size_t got = 0;
        if (!stream.ReadAt(at, out.data(), out.size(), got) ||
            !std::equal(out.begin(), out.end(), data.begin() + at))
          ++mismatches[t];
        const std::int64_t there = next() % records.size();
        if (!shared.ReadAt(there, out.data(), 1, got) || out[0] != records[there])
          ++mismatches[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST_F(StreamTest, AStreamKeepsItsArchiveOpen) {
  Stream stream;
  {
    Archive archive;
    ASSERT_TRUE(archive.OpenMapped(Path("out.qvr")));
    ASSERT_TRUE(archive.OpenStream(*archive.Find("noise.bin"), stream));
  }
  EXPECT_EQ(ReadInPieces(stream, 10000), members_[1].second);
}

// Every new way in, on each seed archive: any reads and seeks give the bytes
// of a whole Read, or its error; listings and Stat agree with each other.
TEST_F(FileSystemTest, HostileArchivesThroughEveryNewEntry) {
  std::vector<std::pair<std::string, Bytes>> images;
  for (const auto& seed : fs::directory_iterator(fs::path(SEED_CORPUS_DIR) / "archive")) {
    std::ifstream in(seed.path(), std::ios::binary);
    images.emplace_back(seed.path().filename().string(),
                        Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
  // A member of no bytes whose stream holds one: no read reaches its end,
  // and every read says what Read says.
  images.emplace_back("empty-with-a-byte",
                      ArchiveImage({{"empty", 0, kAfterTable, 3, {0xb0, 0x80, 0x00}}}, 1));
  int damaged_streams = 0;
  for (const auto& [name, image] : images) {
    Archive archive;
    if (!archive.OpenMemory(image)) continue;
    for (std::size_t i = 0; i < archive.size(); ++i) {
      Bytes whole;
      const Status read = archive.Read(i, whole);
      Stream stream;
      ASSERT_TRUE(archive.OpenStream(i, stream));
      const std::int64_t size = stream.Size();
      for (std::int64_t at : {size / 2, std::int64_t{0}, size - 1, size / 3}) {
        at = std::max<std::int64_t>(at, 0);
        Bytes out(static_cast<std::size_t>(size - at) + 1);
        std::size_t got = 0;
        const Status status = stream.ReadAt(at, out.data(), out.size(), got);
        if (read) {
          EXPECT_TRUE(status) << name;
          EXPECT_EQ(got, static_cast<std::size_t>(size - at)) << name;
          EXPECT_TRUE(std::equal(whole.begin() + at, whole.end(), out.begin())) << name;
        } else {
          // A read to the member's end always meets the damage.
          EXPECT_EQ(status.code(), read.code()) << name;
        }
      }
      if (!read) ++damaged_streams;
    }
    const Status walked = archive.Walk("", [&](const DirEntry& entry) {
      EntryInfo info;
      EXPECT_TRUE(archive.Stat(entry.path, info)) << name << ": " << entry.path;
      EXPECT_EQ(info.directory, entry.info.directory) << name << ": " << entry.path;
      if (entry.info.directory) {
        EXPECT_TRUE(archive.List(entry.path, [](const DirEntry&) { return true; }));
      }
      return true;
    });
    EXPECT_TRUE(walked) << name;
  }
  EXPECT_EQ(damaged_streams, 4);
}

// An archive in memory, read through the Source interface, that fails
// from the read whose number is `fail_from` on until it is told to stop.
class FlakySource : public Source {
 public:
  FlakySource(const Bytes& image, std::atomic<int>& deleted, int fail_from)
      : image_(image), deleted_(deleted), fail_from_(fail_from) {}
  ~FlakySource() override { ++deleted_; }
  std::int64_t ReadAt(std::uint8_t* out, std::size_t size, std::int64_t offset) override {
    if (++reads_ >= fail_from_ && failing) return -1;
    const std::size_t count = std::min(size, image_.size() - static_cast<std::size_t>(offset));
    // Half at most, to hold the library to its reading of short reads.
    const std::size_t half = std::max<std::size_t>(1, std::min(count, (count + 1) / 2));
    std::copy_n(image_.begin() + offset, count == 0 ? 0 : half, out);
    return static_cast<std::int64_t>(count == 0 ? 0 : half);
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(image_.size()); }

  std::atomic<bool> failing{true};

 private:
  const Bytes& image_;
  std::atomic<int>& deleted_;
  std::atomic<int> reads_{0};
  const int fail_from_;
};

TEST_F(FileSystemTest, ACustomSourceThatFailsMidRead) {
  const Bytes member = TextData(700000, 4);
  BuildArchive({{"big.txt", member}, {"small.txt", Text("small")}}, "-c");
  const Bytes image = Read("out.qvr");
  std::atomic<int> deleted = 0;
  auto owned = std::make_unique<FlakySource>(image, deleted, 40);
  FlakySource& source = *owned;
  Archive archive;
  ASSERT_TRUE(archive.OpenSource(std::move(owned)));
  const std::size_t big = *archive.Find("big.txt");
  Stream stream;
  ASSERT_TRUE(archive.OpenStream(big, stream));
  Bytes start(1000);
  std::size_t got = 0;
  ASSERT_TRUE(stream.Read(start.data(), start.size(), got));
  EXPECT_TRUE(std::equal(start.begin(), start.end(), member.begin()));
  Bytes rest(member.size());
  EXPECT_EQ(stream.Read(rest.data(), rest.size(), got).code(), Status::Code::kReadFailed);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(stream.Tell(), 1000);
  Bytes whole;
  EXPECT_EQ(archive.Read(big, whole).code(), Status::Code::kReadFailed);
  EXPECT_EQ(archive.Read(big, whole).message(), "cannot read big.txt");
  // A failure that passes is no damage: the same stream reads on.
  source.failing = false;
  EXPECT_EQ(ReadInPieces(stream, 100000), Bytes(member.begin() + 1000, member.end()));
  // The source goes with the last of the archive, its mounts and streams.
  Mounts mounts;
  ASSERT_TRUE(mounts.MountArchive(archive));
  archive = Archive();
  stream.Close();
  EXPECT_EQ(deleted, 0);
  mounts = Mounts();
  EXPECT_EQ(deleted, 1);

  struct NoSize : Source {
    std::int64_t ReadAt(std::uint8_t*, std::size_t, std::int64_t) override { return -1; }
    std::int64_t Size() override { return -1; }
  };
  EXPECT_EQ(archive.OpenSource(std::make_unique<NoSize>()).code(), Status::Code::kOpenFailed);
  auto failing = std::make_unique<FlakySource>(image, deleted, 1);
  EXPECT_EQ(archive.OpenSource(std::move(failing)).code(), Status::Code::kDamaged);
  EXPECT_EQ(deleted, 2);
}

}  // namespace
}  // namespace quiver::test
