// quiver -u end to end: every update is built in full beside it and must
// match it byte for byte, with the full build's transcript and one line
// more.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "archive_layout.h"
#include "scratch.h"

namespace quiver::test {
namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

class UpdateTest : public ScratchTest {
 protected:
  // Members of every kind the coder treats apart: short ones, each longer
  // than the next so that each one's context is the one before it, one
  // longer than the window, and one that -s stores raw.
  static Members Assets() {
    return {{"readme.txt", TextData(3000, 1)}, {"maps\\a.map", BinaryData(9000, 2)},
            {"s1.txt", TextData(200, 3)},      {"s2.txt", TextData(100, 4)},
            {"s3.bin", RunsData(50, 5)},       {"noise.raw", RandomData(700, 6)}};
  }
  static constexpr int kAssetsStoredRaw = 1;

  // The full build's stream checks the update's: `members` built with
  // `option` into full.qvr, and with -u over out.qvr as it stands. Returns
  // how many members the update reused.
  int UpdateMatchesFullBuild(const Members& members, const std::string& option = "-c") {
    WriteMembers(members);
    const RunResult full = Quiver({option, "full", "@list"});
    const RunResult update = Quiver({"-u", option, "out", "@list"});
    EXPECT_EQ(full.status, 0) << full.output;
    EXPECT_EQ(update.status, 0) << update.output;
    EXPECT_TRUE(Read("out.qvr") == Read("full.qvr")) << "archives differ";
    const std::size_t last = update.output.rfind("Reused ");
    EXPECT_EQ(update.output.substr(0, last), ReplaceAll(full.output, "full.qvr", "out.qvr"));
    int reused = -1;
    int count = -1;
    if (last != std::string::npos)
      std::sscanf(update.output.c_str() + last, "Reused %d of %d members.\n", &reused, &count);
    EXPECT_EQ(count, static_cast<int>(members.size()));
    EXPECT_EQ(update.output.substr(last == std::string::npos ? 0 : last),
              "Reused " + std::to_string(reused) + " of " + std::to_string(count) + " members.\n");
    return reused;
  }

  // Rewrites the record of `name` in out.qvr.
  template <typename Change>
  void PatchRecord(const std::string& name, Change change) {
    Bytes archive = Read("out.qvr");
    const ArchiveHeader header = DecodeHeader(archive.data());
    for (int k = 0; k < header.count; ++k) {
      std::uint8_t* at = archive.data() + kHeaderSize + kRecordSize * k;
      TocEntry entry = DecodeTocEntry(at);
      if (name != entry.name) continue;
      change(entry);
      EncodeTocEntry(entry, at);
    }
    Write("out.qvr", archive);
  }
};

TEST_F(UpdateTest, UnchangedMembersAreAllReused) {
  Members members = Assets();
  // Long enough to be coded in blocks.
  members.emplace_back("long.txt", TextData((1 << 20) + 5000, 7));
  BuildArchive(members, "-c");
  EXPECT_EQ(UpdateMatchesFullBuild(members), static_cast<int>(members.size()));
  // A member -s stored raw has no stream, but its bytes serve -s again.
  BuildArchive(members, "-s");
  EXPECT_EQ(UpdateMatchesFullBuild(members, "-s"), static_cast<int>(members.size()));
}

#ifndef _WIN32
// Windows always replaces the file: its owners are in its access list.
TEST_F(UpdateTest, AnUpdateThatChangesNothingKeepsTheFileUnlessItHasAnotherName) {
  const Members members = Assets();
  const int all = static_cast<int>(members.size());
  const auto status = [this](const std::string& name) {
    struct stat file {};
    EXPECT_EQ(::stat(Path(name).c_str(), &file), 0);
    return file;
  };
  BuildArchive(members, "-c");
  const struct timespec long_ago[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, Path("out.qvr").c_str(), long_ago, 0), 0);
  const struct stat before = status("out.qvr");
  EXPECT_EQ(UpdateMatchesFullBuild(members), all);
  const struct stat kept = status("out.qvr");
  EXPECT_EQ(kept.st_ino, before.st_ino);
  EXPECT_GT(kept.st_mtime, before.st_mtime);
  EXPECT_EQ(Tree(),
            (std::vector<std::string>{"full.qvr", "list.rsp", "maps/", "maps/a.map", "noise.raw",
                                      "out.qvr", "readme.txt", "s1.txt", "s2.txt", "s3.bin"}));
  // A full build would part the file from its other name.
  ASSERT_EQ(::link(Path("out.qvr").c_str(), Path("other.qvr").c_str()), 0);
  EXPECT_EQ(UpdateMatchesFullBuild(members), all);
  EXPECT_NE(status("out.qvr").st_ino, status("other.qvr").st_ino);
}
#endif

TEST_F(UpdateTest, ChangedMembersAndThoseWhoseContextChangedAreCodedAfresh) {
  const Members before = Assets();
  Members after = before;
  after.back().second[10] ^= 1;
  BuildArchive(before, "-c");
  EXPECT_EQ(UpdateMatchesFullBuild(after), static_cast<int>(before.size()) - 1);
  // s2 reads the window past its end, where s1's bytes 100 to 115 lie; s3
  // reads s2's own.
  after = before;
  after[2].second[105] ^= 1;
  BuildArchive(before, "-c");
  EXPECT_EQ(UpdateMatchesFullBuild(after), static_cast<int>(before.size()) - 2);
}

TEST_F(UpdateTest, AddedRemovedReorderedAndRenamedMembers) {
  const Members before = Assets();
  Members added = before;
  added.insert(added.begin() + 3, {"new.txt", TextData(150, 9)});
  Members removed = before;
  removed.erase(removed.begin() + 2);
  const Members reversed(before.rbegin(), before.rend());
  Members moved = before;
  moved.back().first = "noise2.raw";
  std::swap(moved.back(), moved[0]);
  // Each against a full build: counts here would restate the coder.
  for (const Members& after : {added, removed, reversed, moved}) {
    BuildArchive(before, "-c");
    UpdateMatchesFullBuild(after);
  }
  // A member renamed in place keeps its stream, found by its bytes.
  Members renamed = before;
  renamed[1].first = "maps\\b.map";
  BuildArchive(before, "-c");
  EXPECT_EQ(UpdateMatchesFullBuild(renamed), static_cast<int>(before.size()));
}

TEST_F(UpdateTest, ShuffledShortMembersOfEveryLengthAroundTheWindow) {
  // Each short member reads up to 16 window bytes past its end, left there
  // by whichever member before it reached that far, and with two letters
  // those bytes decide which of many equal strings its last matches take.
  // Lengths within 16 of one another and of the window's size, shuffled,
  // some changed, one gone and one new.
  std::mt19937 random(30);
  const auto member = [&random] {
    const std::size_t length = random() % 2 ? 1 + random() % 48 : 4070 + random() % 48;
    Bytes bytes(length);
    for (std::uint8_t& byte : bytes) byte = "ab"[random() % 2];
    return bytes;
  };
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    Members before;
    for (int k = 0; k < 40; ++k)
      before.emplace_back(std::string("m").append(std::to_string(k)), member());
    Members after = before;
    std::shuffle(after.begin(), after.end(), random);
    for (int k = 0; k < 3; ++k) after[random() % after.size()].second.back() ^= 1;
    after.erase(after.begin() + static_cast<long>(random() % after.size()));
    after.emplace_back("new", member());
    BuildArchive(before, "-c");
    UpdateMatchesFullBuild(after);
  }
}

TEST_F(UpdateTest, EveryModeOverEveryOldMode) {
  const Members members = Assets();
  const int all = static_cast<int>(members.size());
  const struct {
    const char* old_option;
    const char* option;
    int reused;
  } cases[] = {
      {"-s", "-c", all - kAssetsStoredRaw},
      {"-c", "-s", all},  // the stream decides -s's choice again
      {"", "-c", 0},      // a stored build has no streams
      {"", "-s", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.old_option) + " then " + c.option);
    BuildArchive(members, c.old_option);
    EXPECT_EQ(UpdateMatchesFullBuild(members, c.option), c.reused);
  }
}

TEST_F(UpdateTest, UpdateOfAStoredBuildChangesNothing) {
  WriteMembers(Assets());
  const RunResult full = Quiver({"out", "@list"});
  const Bytes archive = Read("out.qvr");
  const RunResult update = Quiver({"-u", "out", "@list"});
  EXPECT_EQ(update.status, 0);
  EXPECT_EQ(update.output, full.output);
  EXPECT_EQ(Read("out.qvr"), archive);
}

TEST_F(UpdateTest, AnythingWrongWithTheOldArchiveCodesMembersAfresh) {
  const Members members = Assets();
  const int all = static_cast<int>(members.size());
  Members grown = members;
  grown[1].second.push_back('!');
  const struct {
    const char* what;
    std::function<void()> damage;
    const Members& after;
    int reused;  // -1: whatever agrees with the full build
  } cases[] = {
      {"truncated",
       [&] {
         Bytes archive = Read("out.qvr");
         archive.resize(archive.size() - 10);
         Write("out.qvr", archive);
       },
       members, 0},
      {"overlapping spans",
       [&] { PatchRecord("s3.bin", [](TocEntry& entry) { entry.data_offset -= 5; }); }, members, 0},
      {"not an archive", [&] { Write("out.qvr", std::string("just text")); }, members, 0},
      // a.map's old stream decodes to one byte less than its record says:
      // not reused, and the members whose context it holds neither.
      {"stream of the wrong length",
       [&] { PatchRecord("maps\\a.map", [](TocEntry& entry) { ++entry.original_length; }); }, grown,
       -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BuildArchive(members, "-c");
    c.damage();
    const int reused = UpdateMatchesFullBuild(c.after);
    if (c.reused >= 0) {
      EXPECT_EQ(reused, c.reused);
    }
    EXPECT_LT(reused, all);
  }
}

TEST_F(UpdateTest, OldArchiveRewrittenDuringTheBuild) {
  // The first member takes long enough to code that the old archive is
  // rewritten in place, as cp would, before any stream is taken from it.
  Members members = {{"big.txt", TextData(BusyBytes(8 << 20), 1)}};
  for (const auto& member : Assets()) members.push_back(member);
  BuildArchive(members, "-c");
  members[0].second[0] ^= 1;
  WriteMembers(members);
  const RunResult full = Quiver({"-c", "full", "@list"});
  RunningProgram run(QuiverPath(), {"-u", "-c", "out", "@list"}, dir_);
  ASSERT_TRUE(WaitForPath(Path("big.tx$")));
  {
    std::fstream old(Path("out.qvr"), std::ios::in | std::ios::out | std::ios::binary);
    old.seekp(kHeaderSize + kRecordSize * static_cast<long>(members.size()) + 1);
    old.write("rewritten", 9);
  }
  const RunResult update = run.Wait();
  EXPECT_EQ(update.status, 0) << update.output;
  EXPECT_TRUE(Read("out.qvr") == Read("full.qvr")) << "archives differ";
  EXPECT_EQ(update.output, ReplaceAll(full.output, "full.qvr", "out.qvr") + "Reused 0 of " +
                               std::to_string(members.size()) + " members.\n");
}

}  // namespace
}  // namespace quiver::test
