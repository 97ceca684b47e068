// The options both programs took on after the first version: each with its
// exact transcript, and the first version's command lines unchanged.
#include <chrono>
#include <filesystem>
#include <thread>

#include "name_crc.h"
#include "scratch.h"

namespace quiver::test {
namespace {

std::string Logged(const std::string& name, std::size_t size) {
  return name + " logged - " + Hex(NameCrc(name.c_str())) + " " + std::to_string(size) + "\n";
}

class QuiverOptionsTest : public ScratchTest {};

TEST_F(QuiverOptionsTest, HelpAndVersionAloneSucceed) {
  for (const char* help : {"--help", "-h"}) {
    RunResult run = Quiver({help});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.output.starts_with("\nUsage: quiver [-c]|[-s] destfile @rspfile\n"));
    EXPECT_NE(run.output.find("-j N, --threads=N"), std::string::npos) << run.output;
  }
  ExpectTranscript(Quiver({"--version"}), 0, "quiver 1.2.0\n");
  EXPECT_TRUE(Tree().empty());
}

TEST_F(QuiverOptionsTest, EveryThreadCountWritesTheSameArchive) {
  WriteMembers({{"big.txt", TextData(1500000, 1)},
                {"a.bin", BinaryData(9000, 2)},
                {"b.txt", TextData(3000, 3)}});
  ASSERT_EQ(Quiver({"-c", "one", "@list"}).status, 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-c", "-j", "1", "out", "@list"},
        std::vector<std::string>{"--threads=2", "-c", "out", "@list"},
        std::vector<std::string>{"-j", "64", "-c", "out", "@list"}}) {
    ASSERT_EQ(Quiver(args).status, 0) << args[1];
    EXPECT_EQ(Read("out.qvr"), Read("one.qvr")) << args[1];
  }
  for (const char* bad : {"0", " 2", "+3", "2 ", "1025", "", "0x2", "99999999999"})
    EXPECT_EQ(Quiver({"-j", bad, "-c", "out", "@list"}).status, 2) << "'" << bad << "'";
}

TEST_F(QuiverOptionsTest, ResponseTextFromStandardInput) {
  Write("m.txt", std::string("member"));
  RunOptions piped;
  piped.input = "m.txt\n";
  ExpectTranscript(Quiver({"out", "@-"}, piped), 0,
                   "Response file    = -\nDestination file = out.qvr\nOpened -\n"
                   "filecount = 1\n" +
                       Logged("m.txt", 6) +
                       "toc size = 272\nCopying file m.txt of 6 bytes | 0 to go\n"
                       "\nTotal Data Size = 6\n\nClosed .rsp file -\nClosed quiver out.qvr\n");
  EXPECT_EQ(Read("out.qvr"), StoredBuild({{"m.txt", Text("member")}}));
}

TEST_F(QuiverOptionsTest, QuietPrintsFailuresOnly) {
  WriteMembers({{"m.txt", Text("member")}});
  ExpectTranscript(Quiver({"-q", "-s", "out", "@list"}), 0, "");
  Write("list.rsp", std::string("m.txt absent\n"));
  ExpectTranscript(Quiver({"--quiet", "out", "@list"}), 1, "Unable to open absent\n");
}

TEST_F(QuiverOptionsTest, NamesGivenWithTheirExtensionGetAHint) {
  ExpectTranscript(Quiver({"out", "@list.rsp"}), 1,
                   "Response file    = list.rsp.rsp\nDestination file = out.qvr\n"
                   "Unable to open response file list.rsp.rsp\n"
                   "Hint: .rsp is added to the name given; for list.rsp give @list\n");
  Write("list.rsp", std::string("m\n"));
  std::filesystem::create_directory(Path("out.qvr.qvr"));
  ExpectTranscript(Quiver({"out.qvr", "@list"}), 1,
                   "Response file    = list.rsp\nDestination file = out.qvr.qvr\nOpened list.rsp\n"
                   "Unable to create quiver out.qvr.qvr\n"
                   "Hint: .qvr is added to the name given; for out.qvr give out\n");
}

TEST_F(QuiverOptionsTest, TwoArgumentsAreStillDestinationAndList) {
  WriteMembers({{"m", Text("x")}});
  RunResult run = Quiver({"-q", "@list"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.output.starts_with("Response file    = list.rsp\nDestination file = -q.qvr\n"));
  EXPECT_TRUE(Exists("-q.qvr"));
}

class QuiverxOptionsTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    BuildArchive({{"maps\\one.map", TextData(3000, 1)}, {"two.bin", RandomData(100, 2)}}, "-s",
                 "src");
    std::filesystem::rename(Path("src/out.qvr"), Path("out.qvr"));
  }
};

TEST_F(QuiverxOptionsTest, HelpAndVersion) {
  RunResult help = Quiverx({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.output.starts_with("\nquiverx.exe - Quiver extraction utility\n"));
  EXPECT_NE(help.output.find("-C DIR, --directory=DIR"), std::string::npos);
  RunResult version = Quiverx({"--version"});
  EXPECT_EQ(version.output, "quiverx 1.2.0\n");
  EXPECT_EQ(Quiverx({"-x", "out"}).status, 2);
  EXPECT_EQ(Quiverx({"--format=xml", "?out"}).status, 2);
  EXPECT_NE(help.output.find("-j N, --threads=N"), std::string::npos);
  for (const char* bad : {"0", " 2", "+3", "1025", ""})
    EXPECT_EQ(Quiverx({"-j", bad, "+out"}).status, 2) << "'" << bad << "'";
  EXPECT_EQ(Quiverx({"--threads=3", "-q", "+out"}).status, 0);
}

TEST_F(QuiverxOptionsTest, DirectoryTakesTheTreeWhileTheArchiveStaysWhereItIs) {
  std::filesystem::create_directory(Path("dest"));
  RunResult run = Quiverx({"-C", "dest", "+out"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Read("dest/maps/one.map"), TextData(3000, 1));
  EXPECT_EQ(Read("dest/two.bin"), RandomData(100, 2));
  RunResult named = Quiverx({"--directory=dest", "out", "two.bin"});
  EXPECT_EQ(named.status, 0) << named.output;
  RunResult missing = Quiverx({"-C", "nowhere", "+out"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.output.ends_with("Unable to use directory nowhere.\n")) << missing.output;
}

TEST_F(QuiverxOptionsTest, DirectoryKeepsEveryPathRule) {
  std::filesystem::create_directories(Path("dest/inner"));
  Write("evil.qvr", ArchiveImage({Stored("../escape", "evil"), Stored("inner/up/x", "evil")}));
  RunResult parent = Quiverx({"-C", "dest/inner", "evil", "../escape"});
  EXPECT_EQ(parent.status, 1);
  EXPECT_TRUE(
      parent.output.ends_with("Unable to extract ../escape - unsafe name (parent directory).\n"));
  EXPECT_FALSE(Exists("dest/escape"));
  if (!Link("..", "dest/inner/up")) GTEST_SKIP() << "no symbolic links here";
  RunResult link = Quiverx({"-C", "dest", "evil", "inner/up/x"});
  EXPECT_EQ(link.status, 1);
  EXPECT_TRUE(link.output.ends_with(
      "Unable to extract inner/up/x - a directory on its path is a symbolic link.\n"));
  EXPECT_FALSE(Exists("dest/x"));
}

TEST_F(QuiverxOptionsTest, TestChecksEveryMemberAndWritesNothing) {
  const auto before = Tree();
  ExpectTranscript(Quiverx({"-t", "out"}), 0,
                   "Opened out.qvr.\nFilecount - 2\nFiles are compressed.\n"
                   "two.bin - ok.\nmaps\\one.map - ok.\nTested 2 members: 0 failed.\n");
  EXPECT_EQ(Tree(), before);
}

TEST_F(QuiverxOptionsTest, TestReportsATableOutOfKeyOrderWithoutFailing) {
  Write("hand.qvr", ArchiveImage({Stored("b", "2"), Stored("a", "1")}));
  RunResult run = Quiverx({"--test", "hand"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
            "Opened hand.qvr.\nFilecount - 2\nFiles are not compressed.\nb - ok.\na - ok.\n"
            "Note: the table is not in key order; names are found by a slower lookup.\n"
            "Tested 2 members: 0 failed.\n");
}

// C1 controls as UTF-8 (here NEL, C2 85) and as raw bytes (9B) drive a
// terminal; the Unicode line and paragraph separators split lines for a
// reader that honours them.
const std::string kSeparatorsName =
    "a\xc2\x85"
    "b\xe2\x80\xa8"
    "c\xe2\x80\xa9"
    "d\x9b"
    "e";

TEST_F(QuiverxOptionsTest, TabSeparatedListingForScripts) {
  Write("odd.qvr",
        ArchiveImage({Stored("tab\there\\caf\xe9", "data"), Stored(kSeparatorsName, "more")}));
  ExpectTranscript(Quiverx({"--format=tsv", "?odd"}), 0,
                   "name\toriginal_length\tstored_length\tcompressed\tkey\toffset\n"
                   "tab\\there\\\\caf\\xe9\t4\t4\t0\t0\t560\n"
                   "a\\xc2\\x85b\\xe2\\x80\\xa8c\\xe2\\x80\\xa9d\\x9be\t4\t4\t0\t0\t564\n");
}

TEST_F(QuiverxOptionsTest, JsonListingReadsBackAsTheArchive) {
  if (!SystemProgramExists("/usr/bin/python3")) GTEST_SKIP() << "needs python3";
  Write("odd.qvr", ArchiveImage({Stored(kSeparatorsName, "data")}));
  RunResult odd = Quiverx({"--format=json", "?odd"});
  EXPECT_NE(odd.output.find(R"("a\u0085b\u2028c\u2029d\udc9be")"), std::string::npos) << odd.output;
  for (const std::string archive : {"out", "odd"}) {
    RunResult run = Quiverx({"--format=json", "?" + archive});
    ASSERT_EQ(run.status, 0);
    Write("listing.json", run.output);
    // Read back by a JSON parser and held against the archive's own bytes.
    const std::string check = R"(
import json, struct, sys
listing = json.load(open("listing.json"))
image = open(sys.argv[1], "rb").read()
count, = struct.unpack_from("<i", image, 0)
assert len(listing) == count, listing
for i, member in enumerate(listing):
    key, original, offset, compressed = struct.unpack_from("<Iiii", image, 16 + 272 * i)
    name = image[32 + 272 * i:].split(b"\0")[0]
    assert member["name"].encode("utf-8", "surrogateescape") == name, member
    assert (member["key"], member["original_length"], member["offset"]) == (key, original, offset)
    assert member["compressed"] == (compressed != 0)
    assert member["stored_length"] == (compressed or original)
print("ok")
)";
    RunResult parsed = RunProgram("/usr/bin/python3", {"-c", check, archive + ".qvr"}, dir_);
    EXPECT_EQ(parsed.output, "ok\n") << run.output;
  }
}

TEST_F(QuiverxOptionsTest, NoOverwriteSkipsExistingFiles) {
  Write("two.bin", std::string("mine"));
  ExpectTranscript(Quiverx({"-n", "+out"}), 0,
                   "Opened out.qvr.\nFilecount - 2\nFiles are compressed.\n"
                   "two.bin exists - skipped.\nmaps\\one.map decompressed and extracted.\n");
  EXPECT_EQ(Read("two.bin"), Text("mine"));
}

TEST_F(QuiverxOptionsTest, NoOverwriteNeverReplacesAFileMadeWhileTheMemberIsWritten) {
  if (!SystemProgramExists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
  // strace holds every link and rename back for 1.5 s: the files appear
  // after quiverx looked for them and before it puts the members in place.
  const std::string commits = "linkat,renameat,renameat2";
  RunningProgram run("/usr/bin/strace",
                     {"-f", "-qq", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-e",
                      "trace=" + commits, "-e", "inject=" + commits + ":delay_enter=1500000",
                      QuiverxPath(), "-n", "+out"},
                     dir_);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Write("two.bin", std::string("mine"));
  Write("maps/one.map", std::string("mine too"));
  const RunResult result = run.Wait();
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("exists - skipped.\n"), std::string::npos) << result.output;
  EXPECT_EQ(result.output.find("extracted"), std::string::npos) << result.output;
  EXPECT_EQ(Read("two.bin"), Text("mine"));
  EXPECT_EQ(Read("maps/one.map"), Text("mine too"));
  for (const std::string& path : Tree()) EXPECT_EQ(path.find(".qvx-"), std::string::npos) << path;
}

TEST_F(QuiverxOptionsTest, QuietPrintsFailuresOnly) {
  ExpectTranscript(Quiverx({"-q", "+out"}), 0, "");
  ExpectTranscript(Quiverx({"-q", "out", "absent"}), 1,
                   "Unable to extract absent - not found in quiver.\n");
}

TEST_F(QuiverxOptionsTest, AnArchiveNamedLikeAnOptionIsReachedThroughItsPath) {
  std::filesystem::rename(Path("out.qvr"), Path("-odd.qvr"));
  RunResult run = Quiverx({"?./-odd"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.output.starts_with("Opened ./-odd.qvr.\n")) << run.output;
  EXPECT_EQ(Quiverx({"--", "?./-odd"}).status, 0);
}

}  // namespace
}  // namespace quiver::test
