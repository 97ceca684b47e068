// The quiverx program end to end, on archives the real quiver builds.
#include <filesystem>

#include "platform.h"
#include "scratch.h"

namespace quiver::test {
namespace {

const char kUsage[] =
    "\n"
    "quiverx.exe - Quiver extraction utility\n"
    "Usage: quiverx quivername filename filename filename... OR\n"
    "       quiverx [+/?]quivername\n"
    "\n"
    "\tquivername    - Quiver filename (no .ext)\n"
    "\tfilename    - File to extract.\n"
    "\n"
    "First usage extracts selected files from a quiver.\n"
    "+ - Explode a quiver into it's directory structure.\n"
    "? - Display information about the contents of a quiver.\n"
    "\n";

class ExtractorCliTest : public ScratchTest {
 protected:
  // Builds out.qvr in src/ from the given members, then moves it to the
  // scratch directory's top.
  void Build(const Members& members, const std::string& option = "") {
    BuildArchive(members, option, "src");
    std::filesystem::rename(Path("src/out.qvr"), Path("out.qvr"));
  }
};

TEST_F(ExtractorCliTest, UsageForms) {
  ExpectTranscript(Quiverx({}), 2, kUsage);
  Build({{"a", Bytes{'x'}}});
  ExpectTranscript(
      Quiverx({"out"}), 2,
      std::string("Opened out.qvr.\nFilecount - 1\nFiles are not compressed.\n") + kUsage);
  ExpectTranscript(Quiverx({"?out.qvr"}), 1, "Unable to open out.qvr.qvr.\n");
  RunResult long_name = Quiverx({"+" + std::string(252, 'q')});
  EXPECT_EQ(long_name.status, 1);
  EXPECT_NE(long_name.output.find("longer than 251 characters"), std::string::npos);
}

TEST_F(ExtractorCliTest, ListShowsStoredSizes) {
  Build({{"a.txt", TextData(100, 1)}, {"b.bin", RandomData(50, 2)}}, "-s");
  RunResult run = Quiverx({"?out"});
  EXPECT_EQ(run.status, 0);
  // The compressed text member lists its stream length; the incompressible
  // one is stored raw under -s and lists its own.
  EXPECT_NE(run.output.find("Opened out.qvr.\nFilecount - 2\nFiles are compressed.\n"),
            std::string::npos);
  EXPECT_NE(run.output.find("b.bin - 50\n"), std::string::npos);
  EXPECT_EQ(run.output.find("a.txt - 100\n"), std::string::npos);
  EXPECT_TRUE(Tree() == (std::vector<std::string>{"out.qvr", "src/", "src/a.txt", "src/b.bin",
                                                  "src/list.rsp"}));
}

TEST_F(ExtractorCliTest, ListingThatCannotBeWrittenFails) {
  Build({{"a.txt", TextData(100, 1)}});
  RunOptions full;
  full.standard_output = StandardOutput::kFullDevice;
  ExpectTranscript(Quiverx({"?out"}, full), 1, "quiverx: unable to write standard output\n");
}

TEST_F(ExtractorCliTest, ExplodeRecreatesTheTreeInEveryMode) {
  const std::vector<std::pair<std::string, Bytes>> members = {
      {"maps\\level1\\door.dat", BinaryData(5000, 1)},
      {"maps/level2/wall.dat", TextData(70000, 2)},
      {"sounds\\x.raw", RandomData(3000000, 3)},
      {"top.txt", TextData(1, 4)},
      {"runs.bin", RunsData(1048576, 5)}};
  for (const std::string option : {"", "-c", "-s"}) {
    std::filesystem::remove_all(Path("maps"));
    std::filesystem::remove_all(Path("sounds"));
    std::filesystem::remove_all(Path("src"));
    Build(members, option);
    RunResult run = Quiverx({"+out"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(Read("maps/level1/door.dat"), members[0].second);
    EXPECT_EQ(Read("maps/level2/wall.dat"), members[1].second);
    EXPECT_EQ(Read("sounds/x.raw"), members[2].second);
    EXPECT_EQ(Read("top.txt"), members[3].second);
    EXPECT_EQ(Read("runs.bin"), members[4].second);
  }
  // No temporary output is left beside the members.
  for (const std::string& path : Tree()) EXPECT_EQ(path.find(".qvx-"), std::string::npos) << path;
}

TEST_F(ExtractorCliTest, ExplodeTranscriptFollowsTheTable) {
  Build({{"b", Bytes{'b'}}, {"a", Bytes{'a'}}});
  std::filesystem::remove_all(Path("src"));
  RunResult run = Quiverx({"+out"});
  EXPECT_EQ(run.status, 0);
  // "a" keys below "b", so it comes first in the table.
  EXPECT_EQ(
      run.output,
      "Opened out.qvr.\nFilecount - 2\nFiles are not compressed.\na extracted.\nb extracted.\n");
}

TEST_F(ExtractorCliTest, ExtractByNameIsExactAndStopsAtTheFirstMiss) {
  Build({{"maps\\a.dat", Bytes{'1'}}, {"c", Bytes{'3'}}, {"e", Bytes{'5'}}}, "-c");
  ExpectTranscript(Quiverx({"out", "maps\\a.dat", "Maps\\a.dat", "c"}), 1,
                   "Opened out.qvr.\nFilecount - 3\nFiles are compressed.\n"
                   "maps\\a.dat decompressed and extracted.\n"
                   "Unable to extract Maps\\a.dat - not found in quiver.\n");
  EXPECT_EQ(Read("maps/a.dat"), Bytes{'1'});
  EXPECT_FALSE(Exists("c"));
  // The mode character is dropped from the archive name in this form too.
  RunResult plus = Quiverx({"+out", "e", "c"});
  EXPECT_EQ(plus.status, 0);
  EXPECT_EQ(Read("e"), Bytes{'5'});
  EXPECT_EQ(Read("c"), Bytes{'3'});
  RunResult too_long = Quiverx({"out", std::string(256, 'n')});
  EXPECT_EQ(too_long.status, 1);
  EXPECT_NE(too_long.output.find("name longer than 255 characters"), std::string::npos);
}

TEST_F(ExtractorCliTest, DuplicateNamesFirstInTableByNameBothOnExplode) {
  // Two different files under one stored name: build them from two
  // directories so the list names the same path twice with other content.
  Build({{"d", Bytes{'1'}}});
  std::filesystem::create_directories(Path("src2"));
  Write("src2/d", Bytes{'1'});
  Write("src2/list.rsp", std::string("d d\n"));
  ASSERT_EQ(RunProgram(QuiverPath(), {"dup", "@list"}, Path("src2")).status, 0);
  std::filesystem::rename(Path("src2/dup.qvr"), Path("dup.qvr"));
  RunResult list = Quiverx({"?dup"});
  EXPECT_EQ(list.output,
            "Opened dup.qvr.\nFilecount - 2\nFiles are not compressed.\nd - 1\nd - 1\n");
  RunResult explode = Quiverx({"+dup"});
  EXPECT_EQ(explode.status, 0);
  EXPECT_EQ(
      explode.output,
      "Opened dup.qvr.\nFilecount - 2\nFiles are not compressed.\nd extracted.\nd extracted.\n");
  EXPECT_EQ(Read("d"), Bytes{'1'});
}

TEST_F(ExtractorCliTest, ExistingFileIsReplacedAndKeepsItsMode) {
  Build({{"f.txt", TextData(500, 9)}});
  Write("f.txt", std::string(10000, 'o'));
  // All a Windows file keeps of a mode is whether it is read-only.
  using std::filesystem::perms;
  const perms kept = kWindowsFileNames ? perms::owner_read | perms::group_read | perms::others_read
                                       : perms::owner_read | perms::owner_write;
  std::filesystem::permissions(Path("f.txt"), kept);
  ASSERT_EQ(Quiverx({"out", "f.txt"}).status, 0);
  EXPECT_EQ(Read("f.txt"), TextData(500, 9));
  EXPECT_EQ(std::filesystem::status(Path("f.txt")).permissions(), kept);
}

TEST_F(ExtractorCliTest, LongestNamesExtractAndRebuild) {
  // 255 characters: the longest a member name and a directory entry hold.
  const std::string name = std::string(251, 'n') + ".dat";
  const std::string nested = std::string("d\\").append(253, 'm');
  Build({{name, TextData(300, 1)}, {nested, TextData(200, 2)}}, "-c");
  RunResult run = Quiverx({"+out"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Read(name), TextData(300, 1));
  EXPECT_EQ(Read("d/" + std::string(253, 'm')), TextData(200, 2));
  // The archive's own unfinished file must fit beside a 251-character name.
  Write("list.rsp", name + "\n");
  RunResult build = Quiver({std::string(251, 'a'), "@list"});
  EXPECT_EQ(build.status, 0) << build.output;
}

TEST_F(ExtractorCliTest, DirectoryInTheWayIsAFileCreationError) {
  Build({{"f", Bytes{'z'}}, {"g", Bytes{'y'}}});
  std::filesystem::create_directories(Path("f/inside"));
  ExpectTranscript(Quiverx({"+out"}), 1,
                   "Opened out.qvr.\nFilecount - 2\nFiles are not compressed.\n"
                   "Unable to extract f - error in file creation.\n");
  EXPECT_TRUE(std::filesystem::is_directory(Path("f/inside")));
  EXPECT_FALSE(Exists("g"));
}

}  // namespace
}  // namespace quiver::test
