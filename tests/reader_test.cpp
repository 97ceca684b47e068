// The reader library on archives the real quiver builds and on hand-made
// ones: every member reads back whole, lookups agree with quiverx, damage is
// an error value, and reads may share one archive across threads.
#include "quiver/reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "archive_layout.h"
#include "name_crc.h"
#include "platform.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace quiver::test {
namespace {

class ReaderTest : public ScratchTest {
 protected:
  static Bytes ReadAll(const Archive& archive, std::size_t index) {
    Bytes bytes;
    Status status = archive.Read(index, bytes);
    EXPECT_TRUE(status) << status.message();
    return bytes;
  }
};

const Members& SampleMembers() {
  static const Members members = {{"maps\\level1.map", TextData(70000, 1)},
                                  {"art/logo.bmp", BinaryData(5000, 2)},
                                  {"noise.bin", RandomData(1200000, 3)},
                                  {"runs.raw", RunsData(9000, 4)},
                                  {"one", Bytes{'1'}},
                                  {"Case.txt", Text("upper")},
                                  // One file with Case.txt where case is not told apart.
                                  {"case.txt", Text(kWindowsFileNames ? "upper" : "lower")}};
  return members;
}

TEST_F(ReaderTest, EveryMemberReadsBackInEveryMode) {
  for (const std::string option : {"", "-c", "-s"}) {
    SCOPED_TRACE(option);
    BuildArchive(SampleMembers(), option);
    Bytes image = Read("out.qvr");
    Archive from_file;
    ASSERT_TRUE(from_file.OpenFile(Path("out.qvr")));
    Archive from_memory;
    ASSERT_TRUE(from_memory.OpenMemory(image));
    Archive mapped;
    ASSERT_TRUE(mapped.OpenMapped(Path("out.qvr")));
    for (const Archive* archive : {&from_file, &from_memory, &mapped}) {
      EXPECT_EQ(archive->size(), SampleMembers().size());
      EXPECT_EQ(archive->compressed(), !option.empty());
      for (const auto& [name, data] : SampleMembers()) {
        std::optional<std::size_t> index = archive->Find(name);
        ASSERT_TRUE(index) << name;
        EXPECT_STREQ(archive->member(*index).name, name.c_str());
        EXPECT_EQ(ReadAll(*archive, *index), data) << name;
        Bytes chunks;
        EXPECT_TRUE(archive->ReadChunks(*index, [&](const std::uint8_t* p, std::size_t n) {
          chunks.insert(chunks.end(), p, p + n);
          return true;
        }));
        EXPECT_EQ(chunks, data);
        Bytes exact(data.size());
        EXPECT_TRUE(archive->Read(*index, std::span<std::uint8_t>(exact)));
        EXPECT_EQ(exact, data);
      }
      std::size_t total = 0;
      for (std::size_t i = 0; i < archive->size(); ++i) total += ReadAll(*archive, i).size();
      EXPECT_EQ(total, 70000u + 5000 + 1200000 + 9000 + 1 + 5 + 5);
    }
  }
}

TEST_F(ReaderTest, CallerErrorsAreValues) {
  BuildArchive({{"a", TextData(100, 1)}}, "-c");
  Archive archive;
  ASSERT_TRUE(archive.OpenFile(Path("out.qvr")));
  Bytes wrong(99);
  EXPECT_EQ(archive.Read(0, std::span<std::uint8_t>(wrong)).code(), Status::Code::kBadBuffer);
  EXPECT_EQ(archive.Read(5, wrong).code(), Status::Code::kNoSuchMember);
  EXPECT_EQ(archive.ReadChunks(0, [](const std::uint8_t*, std::size_t) { return false; }).code(),
            Status::Code::kStopped);
  EXPECT_FALSE(archive.Find("A"));
  EXPECT_FALSE(archive.Find(std::string(300, 'a')));
  EXPECT_FALSE(archive.Find(std::string("a\0", 2)));
  Archive missing;
  EXPECT_EQ(missing.OpenFile(Path("absent.qvr")).code(), Status::Code::kOpenFailed);
  EXPECT_EQ(missing.size(), 0u);
}

// A stored member with the key given.
ImageRecord Keyed(const std::string& name, const std::string& data, std::uint32_t crc) {
  ImageRecord record = Stored(name, data);
  record.crc = crc;
  return record;
}

TEST_F(ReaderTest, LookupTakesTheSameMemberAsQuiverx) {
  const std::uint32_t key = NameCrc("dup");
  const std::vector<std::vector<ImageRecord>> tables = {
      // Sorted, with a duplicate name and a case collision in one key run.
      {Keyed("dup", "first", key), Keyed("DUP", "upper", key), Keyed("dup", "second", key)},
      // Not sorted, and with keys that do not match their names.
      {Keyed("zz", "z", 5), Keyed("dup", "first", 1), Keyed("aa", "a", 9),
       Keyed("dup", "second", 0)},
  };
  for (const auto& table : tables) {
    Write("hand.qvr", ArchiveImage(table));
    Archive archive;
    ASSERT_TRUE(archive.OpenFile(Path("hand.qvr")));
    for (const ImageRecord& r : table) {
      std::optional<std::size_t> index = archive.Find(r.name);
      ASSERT_TRUE(index) << r.name;
      fs::remove(Path(r.name));
      RunResult run = Quiverx({"hand", r.name});
      ASSERT_EQ(run.status, 0) << run.output;
      EXPECT_EQ(ReadAll(archive, *index), Read(r.name)) << r.name;
      fs::remove(Path(r.name));
    }
    EXPECT_EQ(ReadAll(archive, *archive.Find("dup")), Text("first"));
  }
}

TEST_F(ReaderTest, DamagedArchivesAndStreamsAreErrorValues) {
  int opened = 0;
  for (const auto& seed : fs::directory_iterator(fs::path(SEED_CORPUS_DIR) / "archive")) {
    std::ifstream in(seed.path(), std::ios::binary);
    Bytes image;
    image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    Archive archive;
    Status status = archive.OpenMemory(image);
    const std::string name = seed.path().filename().string();
    if (name.find("stream-") == 0) {
      ASSERT_TRUE(status) << name;
      Bytes out;
      EXPECT_EQ(archive.Read(0, out).code(), Status::Code::kDecompression) << name;
      EXPECT_TRUE(out.empty());
      ++opened;
    } else if (name.rfind("valid-", 0) == 0) {
      ASSERT_TRUE(status) << name;
      for (std::size_t i = 0; i < archive.size(); ++i) EXPECT_FALSE(ReadAll(archive, i).empty());
    } else if (name.find("-name.") == std::string::npos) {
      // Names unsafe to write are quiverx's to refuse; the others are damage.
      EXPECT_EQ(status.code(), Status::Code::kDamaged) << name;
      EXPECT_FALSE(status.message().empty());
      EXPECT_EQ(archive.size(), 0u);
    }
  }
  EXPECT_EQ(opened, 3);
}

TEST_F(ReaderTest, StatusMessagesShowNamesAsAConsoleMayShowThem) {
  // A program prints these as they are; a name must not drive its terminal.
  const std::string name = "n\x1b[2J\x07\xc2\x9b\nforged";
  const std::string shown = "n?[2J???forged";
  ImageRecord negative = Stored(name, "x");
  negative.original_length = -1;
  Bytes damaged = ArchiveImage({negative});
  Archive archive;
  EXPECT_EQ(archive.OpenMemory(damaged).message(), "entry 0 (" + shown + ") has a negative length");
  Bytes cut = ArchiveImage({{name, 10, kAfterTable, 3, {0xB0, 0x80, 0x05}}}, 1);
  ASSERT_TRUE(archive.OpenMemory(cut));
  Bytes out;
  EXPECT_EQ(archive.Read(0, out).message(), "damaged stream in " + shown);
  Mounts mounts;
  std::size_t size;
  EXPECT_EQ(mounts.Size(name, size).message(), "no mount has " + shown);
}

TEST_F(ReaderTest, ConcurrentReadsOfOneArchive) {
  Members members;
  for (int i = 0; i < 40; ++i) {
    std::string name = "m";
    name += std::to_string(i);
    members.push_back({name, i % 2 ? TextData(20000 + i, i) : RunsData(9000, i)});
  }
  BuildArchive(members, "-c");
  Bytes image = Read("out.qvr");
  Archive from_file;
  ASSERT_TRUE(from_file.OpenFile(Path("out.qvr")));
  Archive from_memory;
  ASSERT_TRUE(from_memory.OpenMemory(image));
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const Archive& archive = t % 2 ? from_file : from_memory;
      for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < members.size(); ++i) {
          std::size_t pick = (i * 7 + static_cast<std::size_t>(t)) % members.size();
          std::optional<std::size_t> index = archive.Find(members[pick].first);
          Bytes bytes;
          if (!index || !archive.Read(*index, bytes) || bytes != members[pick].second)
            ++mismatches[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST_F(ReaderTest, LooseLookupForgivesCaseAndSeparatorButPrefersAnExactName) {
  BuildArchive(SampleMembers(), "-c");
  Archive archive;
  ASSERT_TRUE(archive.OpenFile(Path("out.qvr")));
  auto name_of = [&archive](std::optional<std::size_t> index) {
    return index ? std::string(archive.member(*index).name) : std::string("none");
  };
  EXPECT_EQ(name_of(archive.FindLoose("MAPS/Level1.MAP")), "maps\\level1.map");
  EXPECT_EQ(name_of(archive.FindLoose("art\\LOGO.bmp")), "art/logo.bmp");
  EXPECT_EQ(name_of(archive.FindLoose("case.txt")), "case.txt");
  EXPECT_EQ(name_of(archive.FindLoose("Case.txt")), "Case.txt");
  // Neither exact: the first of the two in table order.
  const std::size_t upper = *archive.Find("Case.txt");
  const std::size_t lower = *archive.Find("case.txt");
  EXPECT_EQ(*archive.FindLoose("CASE.TXT"), std::min(upper, lower));
  EXPECT_EQ(name_of(archive.FindLoose("maps")), "none");
  EXPECT_EQ(name_of(archive.FindLoose(std::string("one\0", 4))), "none");
}

TEST_F(ReaderTest, ViewGivesStoredBytesWhereTheyLie) {
  BuildArchive({{"raw.bin", RandomData(3000, 1)}, {"text.txt", TextData(5000, 2)}}, "-s");
  const Bytes image = Read("out.qvr");
  Archive from_memory;
  ASSERT_TRUE(from_memory.OpenMemory(image));
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  ASSERT_TRUE(from_memory.View(*from_memory.Find("raw.bin"), data, size));
  EXPECT_EQ(Bytes(data, data + size), RandomData(3000, 1));
  EXPECT_TRUE(data >= image.data() && data + size <= image.data() + image.size());
  EXPECT_EQ(from_memory.View(*from_memory.Find("text.txt"), data, size).code(),
            Status::Code::kCompressed);
  Archive mapped;
  ASSERT_TRUE(mapped.OpenMapped(Path("out.qvr")));
  ASSERT_TRUE(mapped.View(*mapped.Find("raw.bin"), data, size));
  EXPECT_EQ(Bytes(data, data + size), RandomData(3000, 1));
  Archive from_file;
  ASSERT_TRUE(from_file.OpenFile(Path("out.qvr")));
  EXPECT_EQ(from_file.View(0, data, size).code(), Status::Code::kNotMapped);
  EXPECT_EQ(mapped.View(9, data, size).code(), Status::Code::kNoSuchMember);
}

// A base archive, a patch over it, and loose files over both, as an engine
// mounts them during development.
class MountsTest : public ReaderTest {
 protected:
  void SetUp() override {
    ReaderTest::SetUp();
    BuildArchive({{"maps\\level1.map", Text("base one")},
                  {"maps\\level2.map", Text("base two")},
                  {"sounds\\beep.raw", RunsData(5000, 1)}},
                 "", "base");
    BuildArchive({{"Maps/Level1.map", Text("patched one")}}, "-c", "patch");
    Write("loose/maps/level2.map", std::string("loose two"));
    Write("secret.txt", std::string("outside the mounts"));
    ASSERT_TRUE(mounts_.MountArchive(Path("base/out.qvr")));
    ASSERT_TRUE(mounts_.MountArchive(Path("patch/out.qvr")));
    ASSERT_TRUE(mounts_.MountDirectory(Path("loose")));
  }
  // Windows removes no file that is still open.
  void TearDown() override {
    mounts_ = Mounts();
    ReaderTest::TearDown();
  }

  std::string ReadMounted(const std::string& name) {
    std::size_t size = 0;
    Status status = mounts_.Size(name, size);
    if (!status) return "(" + status.message() + ")";
    std::string text(size, '\0');
    status = mounts_.Read(name, reinterpret_cast<std::uint8_t*>(text.data()), size);
    return status ? text : "(" + status.message() + ")";
  }

  Mounts mounts_;
};

TEST_F(MountsTest, TheLastMountThatHasANameWins) {
  // The file system decides the case of loose files: where it tells case
  // apart MAPS/LEVEL2.MAP is not in the directory, so the base has it.
  const std::pair<const char*, const char*> reads[] = {
      {"maps\\level1.map", "patched one"},
      {"MAPS/LEVEL1.MAP", "patched one"},
      {"maps/level2.map", "loose two"},
      {"maps\\level2.map", "loose two"},
      {"MAPS/LEVEL2.MAP", kWindowsFileNames ? "loose two" : "base two"}};
  for (const auto& [name, text] : reads) EXPECT_EQ(ReadMounted(name), text) << name;
  std::size_t size = 0;
  EXPECT_TRUE(mounts_.Size("Sounds\\Beep.raw", size));
  EXPECT_EQ(size, 5000u);
}

TEST_F(MountsTest, NamesThatLeaveADirectoryAreNeverOpened) {
  std::size_t size = 0;
  for (const char* name : {"../secret.txt", "maps/../../secret.txt", "/etc/passwd", "", "maps/"})
    EXPECT_EQ(mounts_.Size(name, size).code(), Status::Code::kNotFound) << name;
  std::uint8_t byte;
  EXPECT_EQ(mounts_.Read("maps/level2.map", &byte, 1).code(), Status::Code::kBadBuffer);
  EXPECT_EQ(mounts_.MountDirectory(Path("secret.txt")).code(), Status::Code::kOpenFailed);
  EXPECT_EQ(mounts_.MountArchive(Path("secret.txt")).code(), Status::Code::kDamaged);
}

TEST_F(MountsTest, SymbolicLinksInAMountedDirectoryAreNeverFollowed) {
  // Out of the directory, to a file or through a directory, and even back
  // into it: a link is refused, so no name reads what lies outside.
  if (!Link(Path("secret.txt"), "loose/escape_file") || !Link("..", "loose/escape_dir") ||
      !Link("maps/level2.map", "loose/inside"))
    GTEST_SKIP() << "no symbolic links here";
  std::size_t size = 0;
  for (const char* name : {"escape_file", "escape_dir/secret.txt", "ESCAPE_DIR\\secret.txt",
                           "escape_dir/loose/maps/level2.map", "inside"}) {
    EXPECT_EQ(mounts_.Size(name, size).code(), Status::Code::kNotFound) << name;
    std::uint8_t buffer[64];
    EXPECT_EQ(mounts_.Read(name, buffer, 18).code(), Status::Code::kNotFound) << name;
  }
  EXPECT_EQ(ReadMounted("maps/level2.map"), "loose two");
}

TEST_F(MountsTest, ConcurrentReadsThroughMounts) {
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        if (ReadMounted(t % 2 ? "MAPS/level1.map" : "maps/level2.map") !=
            (t % 2 ? "patched one" : "loose two"))
          ++mismatches[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace quiver::test
