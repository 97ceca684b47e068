// The quiver program end to end, without compression.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "archive_layout.h"
#include "name_crc.h"
#include "scratch.h"

namespace quiver::test {
namespace {

const char kUsage[] =
    "\n"
    "Usage: quiver [-c]|[-s] destfile @rspfile\n"
    "\tdestname    - Destination filename\n"
    "\trspfile     - Response filename\n"
    "\t[-c]        - Compress files option\n"
    "\t[-s]        - Compress files - smallest possible output option\n"
    "\n"
    "Do not give destfile or rspfile extensions.\n"
    "Destination file is given .qvr extension.\n"
    "Response file is assumed to have .rsp extension.\n"
    "\n";

// The lines every build that opens its response file starts with.
std::string Opening(const std::string& list = "list", const std::string& dest = "out") {
  return "Response file    = " + list + ".rsp\nDestination file = " + dest + ".qvr\nOpened " +
         list + ".rsp\n";
}

std::string Logged(const std::string& name, std::size_t size) {
  return name + " logged - " + Hex(NameCrc(name.c_str())) + " " + std::to_string(size) + "\n";
}

class BuilderCliTest : public ScratchTest {
 protected:
  // An old archive that a failed build must leave as it was.
  void WriteOldArchive() { Write("out.qvr", std::string("precious old archive")); }
  void ExpectOldArchive() { EXPECT_EQ(Read("out.qvr"), Text("precious old archive")); }

  Members TenTwentyThirty() {
    return {
        {"a.txt", TextData(10, 1)}, {"b\\b.bin", RandomData(20, 2)}, {"c.dat", RunsData(30, 3)}};
  }
};

TEST_F(BuilderCliTest, StoredBuildTranscriptAndBytes) {
  auto members = TenTwentyThirty();
  WriteMembers(members);
  ExpectTranscript(Quiver({"out", "@list"}), 0,
                   Opening() + "filecount = 3\n" + Logged("a.txt", 10) + Logged("b\\b.bin", 20) +
                       Logged("c.dat", 30) +
                       "toc size = 816\n"
                       "Copying file a.txt of 10 bytes | 2 to go\n"
                       "Copying file b\\b.bin of 20 bytes | 1 to go\n"
                       "Copying file c.dat of 30 bytes | 0 to go\n"
                       "\nTotal Data Size = 60\n\n"
                       "Closed .rsp file list.rsp\n"
                       "Closed quiver out.qvr\n");
  Bytes archive = Read("out.qvr");
  ASSERT_EQ(archive.size(), 892u);
  EXPECT_EQ(archive, StoredBuild(members));
  // Offsets follow the response file whatever the table order.
  std::vector<std::int32_t> offsets;
  for (int i = 0; i < 3; ++i) {
    TocEntry entry = DecodeTocEntry(archive.data() + kHeaderSize + kRecordSize * i);
    offsets.push_back(entry.data_offset);
    EXPECT_EQ(entry.compressed_length, 0);
  }
  std::sort(offsets.begin(), offsets.end());
  EXPECT_EQ(offsets, (std::vector<std::int32_t>{832, 842, 862}));
  struct stat st;
  ASSERT_EQ(::stat(Path("out.qvr").c_str(), &st), 0);
  mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
}

class MisuseTest : public BuilderCliTest,
                   public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(MisuseTest, ShowsTheUsageTextWithStatus2AndCreatesNothing) {
  Write("list.rsp", std::string("x\n"));
  ExpectTranscript(Quiver(GetParam()), 2, kUsage);
  EXPECT_EQ(Tree(), std::vector<std::string>{"list.rsp"});
}

INSTANTIATE_TEST_SUITE_P(CommandLines, MisuseTest,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"out"},
                                           std::vector<std::string>{"-c", "out", "@list", "extra"},
                                           std::vector<std::string>{"-C", "out", "@list"},
                                           std::vector<std::string>{"-cs", "out", "@list"},
                                           std::vector<std::string>{"out", "list"},
                                           std::vector<std::string>{"-s", "out", "list"}));

TEST_F(BuilderCliTest, NamesGetTheirExtensionsWhateverTheyCarry) {
  Write("m", std::string("data"));
  Write("list.rsp.rsp", std::string("m\n"));
  EXPECT_EQ(Quiver({"out.qvr", "@list.rsp"}).status, 0);
  EXPECT_EQ(Read("out.qvr.qvr"), StoredBuild({{"m", Text("data")}}));
}

TEST_F(BuilderCliTest, AnAtSignAloneNamesTheResponseFileDotRsp) {
  Write("m", std::string("data"));
  Write(".rsp", std::string("m\n"));
  RunResult run = Quiver({"bare", "@"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.output.starts_with(Opening("", "bare"))) << run.output;
}

TEST_F(BuilderCliTest, WithTwoArgumentsTheFirstIsTheDestinationEvenLikeAnOption) {
  Write("m", std::string("data"));
  Write("list.rsp", std::string("m\n"));
  RunResult run = Quiver({"-c", "@list"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.output.starts_with(Opening("list", "-c"))) << run.output;
  EXPECT_EQ(Read("-c.qvr"), StoredBuild({{"m", Text("data")}}));
}

TEST_F(BuilderCliTest, CommentsAreNotMembers) {
  Write("a.txt", std::string("A"));
  Write("c#d.txt", std::string("CD"));
  Write("e.txt", std::string("E"));
  Write("list.rsp", std::string("a.txt #first word\n#b.txt\nc#d.txt e.txt"));
  EXPECT_EQ(Quiver({"out", "@list"}).status, 0);
  EXPECT_EQ(Read("out.qvr"),
            StoredBuild({{"a.txt", Text("A")}, {"c#d.txt", Text("CD")}, {"e.txt", Text("E")}}));
}

TEST_F(BuilderCliTest, AnEmptyListGivesAnArchiveWithoutMembers) {
  Write("empty.rsp", std::string("# nothing\n\n  # here\n"));
  ExpectTranscript(Quiver({"none", "@empty"}), 0,
                   Opening("empty", "none") +
                       "filecount = 0\n"
                       "toc size = 0\n"
                       "\nTotal Data Size = 0\n\n"
                       "Closed .rsp file empty.rsp\n"
                       "Closed quiver none.qvr\n");
  EXPECT_EQ(Read("none.qvr"), Bytes(16, 0));
}

TEST_F(BuilderCliTest, MissingResponseFileCreatesNothing) {
  ExpectTranscript(Quiver({"out", "@absent"}), 1,
                   "Response file    = absent.rsp\n"
                   "Destination file = out.qvr\n"
                   "Unable to open response file absent.rsp\n");
  EXPECT_TRUE(Tree().empty());
}

TEST_F(BuilderCliTest, EmptyMemberFailsTheBuildAndKeepsTheOldArchive) {
  WriteOldArchive();
  WriteMembers({{"good", Text("g")}, {"empty", Bytes{}}});
  ExpectTranscript(
      Quiver({"out", "@list"}), 1,
      Opening() + "filecount = 2\n" + Logged("good", 1) + "Filelength on empty == 0\n");
  ExpectOldArchive();
  EXPECT_EQ(Tree(), (std::vector<std::string>{"empty", "good", "list.rsp", "out.qvr"}));
}

TEST_F(BuilderCliTest, MissingMemberFailsTheBuildAndKeepsTheOldArchive) {
  WriteOldArchive();
  WriteMembers({{"good", Text("g")}});
  Write("list.rsp", std::string("good absent\n"));
  ExpectTranscript(Quiver({"out", "@list"}), 1,
                   Opening() + "filecount = 2\n" + Logged("good", 1) + "Unable to open absent\n");
  ExpectOldArchive();
}

TEST_F(BuilderCliTest, MemberThatIsAFifoOrADeviceIsNeverRead) {
  WriteOldArchive();
#ifdef _WIN32
  const std::string special = "nul";
#else
  const std::string special = "pipe";
  ::mkfifo(Path(special).c_str(), 0644);
#endif
  Write("list.rsp", special + "\n");
  ExpectTranscript(Quiver({"out", "@list"}), 1,
                   Opening() + "filecount = 1\nUnable to open " + special + "\n");
  ExpectOldArchive();
}

TEST_F(BuilderCliTest, MemberThatIsADirectoryIsRefused) {
  WriteOldArchive();
  std::filesystem::create_directory(Path("dir"));
  Write("list.rsp", std::string("dir\n"));
  ExpectTranscript(Quiver({"out", "@list"}), 1, Opening() + "filecount = 1\nUnable to open dir\n");
  ExpectOldArchive();
  EXPECT_EQ(Tree(), (std::vector<std::string>{"dir/", "list.rsp", "out.qvr"}));
}

TEST_F(BuilderCliTest, FailingWriteReportsAndKeepsTheOldArchive) {
  if (!FileSizeLimitBinds()) GTEST_SKIP() << "no file size limit binds here";
  Bytes old = RandomData(300, 4);
  Write("out.qvr", old);
  WriteMembers({{"big", TextData(200000, 5)}});
  RunOptions limited;
  limited.file_size_limit = 100000;
  ExpectTranscript(Quiver({"out", "@list"}, limited), 1,
                   Opening() + "filecount = 1\n" + Logged("big", 200000) +
                       "toc size = 272\n"
                       "Copying file big of 200000 bytes | 0 to go\n"
                       "Unable to write quiver out.qvr\n");
  EXPECT_EQ(Read("out.qvr"), old);
  EXPECT_EQ(Tree(), (std::vector<std::string>{"big", "list.rsp", "out.qvr"}));
}

TEST_F(BuilderCliTest, FailingWriteOfGatheredMembersNamesTheMemberItReached) {
  if (!FileSizeLimitBinds()) GTEST_SKIP() << "no file size limit binds here";
  // Short members reach the archive in one write; the limit falls inside
  // the fourth one's bytes, so the report stops there as a copy member by
  // member would.
  Members members;
  std::string transcript = Opening() + "filecount = 5\n";
  for (const char* name : {"m0", "m1", "m2", "m3", "m4"}) {
    members.push_back({name, TextData(30000, members.size())});
    transcript += Logged(name, 30000);
  }
  transcript += "toc size = 1360\n";
  for (std::size_t i = 0; i < 4; ++i)
    transcript += "Copying file " + members[i].first + " of 30000 bytes | " +
                  std::to_string(4 - i) + " to go\n";
  WriteMembers(members);
  RunOptions limited;
  limited.file_size_limit = 100000;
  ExpectTranscript(Quiver({"out", "@list"}, limited), 1,
                   transcript + "Unable to write quiver out.qvr\n");
}

class LostTranscriptTest : public BuilderCliTest,
                           public ::testing::WithParamInterface<std::string> {};

TEST_P(LostTranscriptTest, FailsTheBuildAndKeepsTheOldArchive) {
  WriteOldArchive();
  WriteMembers({{"m", Text("member")}});
  RunOptions full;
  full.standard_output = StandardOutput::kFullDevice;
  std::vector<std::string> args = {"out", "@list"};
  if (!GetParam().empty()) args.insert(args.begin(), GetParam());
  ExpectTranscript(Quiver(args, full), 1, "quiver: unable to write standard output\n");
  ExpectOldArchive();
  EXPECT_EQ(Tree(), (std::vector<std::string>{"list.rsp", "m", "out.qvr"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, LostTranscriptTest, ::testing::Values("", "-s"),
                         [](const auto& info) {
                           return info.param.empty() ? "stored" : "smallest";
                         });

TEST_F(BuilderCliTest, ProgressReachesALogWhileTheRunGoesOn) {
  if (!SystemProgramExists("/bin/sh")) GTEST_SKIP() << "needs a shell to write the log";
  // The small member's line is in the log while the long one is still coded.
  WriteMembers({{"small.txt", TextData(100, 1)}, {"long.txt", TextData(BusyBytes(16 << 20), 2)}});
  RunningProgram build("/bin/sh", {"-c", "exec \"$0\" -c -j 1 out @list > log", QuiverPath()},
                       dir_);
  const std::string logged = "small.txt logged - ";
  const std::string before =
      "Response file    = list.rsp\nDestination file = out.qvr\n"
      "Opened list.rsp\nfilecount = 2\n";
  ASSERT_TRUE(WaitForPath(Path("log"), static_cast<long>(before.size() + logged.size())));
  const Bytes log = Read("log");
  EXPECT_EQ(std::string(log.begin(), log.end()).substr(0, before.size() + logged.size()),
            before + logged);
  EXPECT_FALSE(Exists("out.qvr"));
  EXPECT_EQ(build.Wait().status, 0);
  EXPECT_TRUE(Exists("out.qvr"));
}

TEST_F(BuilderCliTest, ALongMemberShowsItsPercentageOnATerminalAndNowhereElse) {
  if (!SystemProgramExists("/usr/bin/script")) GTEST_SKIP() << "needs script for a terminal";
  // Standard error is a terminal that script records; standard output, the
  // log, is a file.
  WriteMembers({{"long.txt", TextData(BusyBytes(48 << 20), 3)}});
  const RunResult run = RunProgram(
      "/usr/bin/script",
      {"-qec", "exec '" + QuiverPath() + "' -c -j 1 out @list > log", "/dev/null"}, dir_);
  EXPECT_EQ(run.status, 0) << run.output;
  const Bytes log = Read("log");
  const std::string text(log.begin(), log.end());
  EXPECT_EQ(text.find('\r'), std::string::npos) << text;
  EXPECT_NE(text.find("long.txt logged - "), std::string::npos) << text;
  EXPECT_NE(run.output.find("\rlong.txt "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("%"), std::string::npos) << run.output;
}

TEST_F(BuilderCliTest, RebuildOverALongerArchiveKeepsNoTail) {
  Write("out.qvr", RandomData(5000, 6));
  WriteMembers({{"m", Text("tiny")}});
  ASSERT_EQ(Quiver({"out", "@list"}).status, 0);
  EXPECT_EQ(Read("out.qvr"), StoredBuild({{"m", Text("tiny")}}));
}

TEST_F(BuilderCliTest, SymbolicLinkDestinationKeepsTheLink) {
  std::filesystem::create_directory(Path("real"));
  Write("real/target.qvr", std::string("old"));
  if (!Link("real/target.qvr", "out.qvr")) GTEST_SKIP() << "no symbolic links here";
  WriteMembers({{"m", Text("new")}});
  ASSERT_EQ(Quiver({"out", "@list"}).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(Path("out.qvr")));
  EXPECT_EQ(Read("real/target.qvr"), StoredBuild({{"m", Text("new")}}));
}

TEST_F(BuilderCliTest, DestinationThatIsNotAFileIsRefused) {
  std::filesystem::create_directory(Path("out.qvr"));
  WriteMembers({{"m", Text("x")}});
  ExpectTranscript(Quiver({"out", "@list"}), 1, Opening() + "Unable to create quiver out.qvr\n");
  EXPECT_TRUE(std::filesystem::is_empty(Path("out.qvr")));
}

TEST_F(BuilderCliTest, OverlongMemberNameIsRefusedBeforeAnythingIsCreated) {
  const std::string name(256, 'n');
  Write("list.rsp", name + "\n");
  ExpectTranscript(
      Quiver({"out", "@list"}), 1,
      Opening() + "Member name longer than 255 characters in list.rsp: " + name + "\n");
  EXPECT_EQ(Tree(), std::vector<std::string>{"list.rsp"});
}

TEST_F(BuilderCliTest, MemberNameWithANulByteIsRefusedBeforeAnythingIsCreated) {
  Write("ab", std::string("would be stored as ab"));
  Write("list.rsp", std::string("ab\0cd\n", 6));
  ExpectTranscript(Quiver({"out", "@list"}), 1,
                   Opening() + "Member name with a NUL byte in list.rsp: ab\n");
  EXPECT_EQ(Tree(), (std::vector<std::string>{"ab", "list.rsp"}));
}

TEST_F(BuilderCliTest, OverlongDestinationAndResponseNamesAreRefused) {
  const std::string dest(252, 'd');
  const std::string response(252, 'r');
  RunResult run = Quiver({dest, "@list"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Destination name is longer than 251 characters: " + dest + "\n");
  run = Quiver({"out", "@" + response});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Response file name is longer than 251 characters: " + response + "\n");
  EXPECT_TRUE(Tree().empty());
}

TEST_F(BuilderCliTest, BaseNamesOf251CharactersStillFit) {
  const std::string response(251, 'r');
  Write(response + ".rsp", std::string("# none\n"));
  EXPECT_EQ(Quiver({"out", "@" + response}).status, 0);
}

TEST_F(BuilderCliTest, MemberTheFieldsCannotHoldIsRefused) {
  // Sparse files: measured, never read.
  Write("huge", Bytes{});
  std::filesystem::resize_file(Path("huge"), 0x80000000ull);
  Write("list.rsp", std::string("huge\n"));
  ExpectTranscript(Quiver({"out", "@list"}), 1,
                   Opening() + "filecount = 1\nhuge is too large for a quiver (2 GiB or more)\n");
  EXPECT_FALSE(Exists("out.qvr"));
}

TEST_F(BuilderCliTest, ArchiveTheFieldsCannotHoldIsRefusedBeforeWriting) {
  for (const char* half : {"half1", "half2"}) {
    Write(half, Bytes{});
    std::filesystem::resize_file(Path(half), 0x40000000ull);
  }
  Write("list.rsp", std::string("half1 half2\n"));
  ExpectTranscript(Quiver({"out", "@list"}), 1,
                   Opening() + "filecount = 2\n" + Logged("half1", 0x40000000) +
                       Logged("half2", 0x40000000) +
                       "toc size = 544\nQuiver out.qvr would be 2 GiB or larger\n");
  EXPECT_FALSE(Exists("out.qvr"));
}

TEST_F(BuilderCliTest, RunningOutOfMemoryIsReportedAndCreatesNothing) {
  if (!MemoryLimitBinds()) GTEST_SKIP() << "no memory limit binds here";
  // Tables for 300,000 members take about 240 MB.
  std::string list;
  for (int i = 0; i < 300000; ++i) {
    list += 'm';
    list += std::to_string(i);
    list += '\n';
  }
  Write("list.rsp", list);
  RunOptions limited;
  limited.address_space_limit = 128 << 20;
  ExpectTranscript(Quiver({"out", "@list"}, limited), 1,
                   Opening() + "filecount = 300000\nOut of memory\n");
  EXPECT_EQ(Tree(), (std::vector<std::string>{"list.rsp"}));
}

TEST_F(BuilderCliTest, CollisionsAndDuplicatesStayInTheTable) {
  Write("Name.txt", std::string("upper"));
  Write("name.txt", std::string("lower"));
  Write("list.rsp", std::string("Name.txt name.txt Name.txt\n"));
  RunResult run = Quiver({"out", "@list"});
  EXPECT_EQ(run.status, 0);
  std::string crc = Hex(NameCrc("name.txt"));
  EXPECT_EQ(run.output, Opening() + "filecount = 3\n" + Logged("Name.txt", 5) +
                            Logged("name.txt", 5) + Logged("Name.txt", 5) +
                            "toc size = 816\n"
                            "CRC collision - Name.txt and name.txt - CRC = " +
                            crc +
                            ".\n"
                            "CRC collision - Name.txt and Name.txt - CRC = " +
                            crc +
                            ".\n"
                            "Copying file Name.txt of 5 bytes | 2 to go\n"
                            "Copying file name.txt of 5 bytes | 1 to go\n"
                            "Copying file Name.txt of 5 bytes | 0 to go\n"
                            "\nTotal Data Size = 15\n\n"
                            "Closed .rsp file list.rsp\n"
                            "Closed quiver out.qvr\n");
  // A file system blind to case, as on Windows, holds one file for both.
  EXPECT_EQ(Read("out.qvr"), StoredBuild({{"Name.txt", Read("Name.txt")},
                                          {"name.txt", Read("name.txt")},
                                          {"Name.txt", Read("Name.txt")}}));
}

TEST_F(BuilderCliTest, MembersAroundTheCopyBufferSize) {
  Members members = {{"one", RandomData(1048576, 7)},
                     {"two", RandomData(1048577, 8)},
                     {"three", RandomData(2500000, 9)}};
  WriteMembers(members);
  ASSERT_EQ(Quiver({"out", "@list"}).status, 0);
  EXPECT_EQ(Read("out.qvr"), StoredBuild(members));
}

}  // namespace
}  // namespace quiver::test
