// Archives nobody here made: each is refused with a message and status 1,
// writes nothing outside the working directory, leaves no partial file and
// keeps an existing file at the member's path as it was.
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <filesystem>

#include "archive_layout.h"
#include "platform.h"
#include "scratch.h"

namespace quiver::test {
namespace {

// A compressed member whose record says `original` bytes and `stream`.
ImageRecord Packed(std::int32_t original, std::int32_t compressed_length, const Bytes& stream) {
  return {"victim", original, kAfterTable, compressed_length, stream};
}

Bytes MakeArchive(const std::vector<ImageRecord>& records, std::int32_t compressed = 0) {
  return ArchiveImage(records, compressed);
}

class HostileArchiveTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    work_ = Path("work");
    std::filesystem::create_directory(work_);
    Write("work/victim", std::string("original"));
  }

  // Runs quiverx in work/ on `archive` and checks every promise above.
  RunResult Refused(const Bytes& archive, const std::vector<std::string>& args,
                    const std::string& message) {
    SCOPED_TRACE(message);
    Write("work/bad.qvr", archive);
    auto before = Tree();
    RunResult run = RunProgram(QuiverxPath(), args, work_);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
    EXPECT_EQ(Tree(), before) << run.output;
    EXPECT_EQ(Read("work/victim"), Text("original"));
    return run;
  }

  std::string work_;
};

TEST_F(HostileArchiveTest, ParentDirectoryNames) {
  for (const char* name :
       {"..\\victim2", "../victim2", "a\\..\\..\\victim2", "..", "x/../../victim"})
    Refused(MakeArchive({Stored(name, "evil")}), {"+bad"}, "unsafe name (parent directory)");
  Refused(MakeArchive({Stored("../victim", "evil")}), {"bad", "../victim"}, "unsafe name");
}

TEST_F(HostileArchiveTest, AbsoluteAndDriveNames) {
  // Windows paths start with their drive.
  std::string absolute = Path("work/victim");
  Refused(MakeArchive({Stored(absolute, "evil")}), {"+bad"},
          kWindowsFileNames ? "unsafe name (drive prefix)" : "unsafe name (absolute path)");
  Refused(MakeArchive({Stored("\\victim", "evil")}), {"+bad"}, "unsafe name (absolute path)");
  Refused(MakeArchive({Stored("c:\\victim", "evil")}), {"+bad"}, "unsafe name (drive prefix)");
  Refused(MakeArchive({Stored("Z:victim", "evil")}), {"+bad"}, "unsafe name (drive prefix)");
}

TEST_F(HostileArchiveTest, EmptyNamesAndDirectoryNames) {
  Refused(MakeArchive({Stored("", "evil")}), {"+bad"}, "unsafe name (empty name)");
  Refused(MakeArchive({Stored("dir\\", "evil")}), {"+bad"}, "unsafe name (directory name)");
  Refused(MakeArchive({Stored("dir/.", "evil")}), {"+bad"}, "unsafe name (directory name)");
}

TEST_F(HostileArchiveTest, NameWithoutTerminator) {
  Refused(MakeArchive({Stored(std::string(256, 'n'), "evil")}), {"?bad"},
          "Damaged quiver bad.qvr - entry 0 has an unterminated name.\n");
}

TEST_F(HostileArchiveTest, CountsThatDoNotFit) {
  Bytes negative = MakeArchive({});
  negative[3] = 0x80;
  Refused(negative, {"?bad"}, "Damaged quiver bad.qvr - its file count -2147483648 is negative.\n");
  Bytes huge = MakeArchive({Stored("victim", "evil")});
  huge[0] = 0xFF;
  huge[1] = 0xFF;
  huge[2] = 0xFF;
  huge[3] = 0x7F;
  Refused(huge, {"+bad"}, "its table of 2147483647 entries does not fit in the file");
  Bytes cut = MakeArchive({Stored("a", "1"), Stored("b", "2")});
  cut.resize(kHeaderSize + kRecordSize + 100);
  Refused(cut, {"+bad"}, "its table of 2 entries does not fit in the file");
  for (std::size_t size = 0; size < kHeaderSize; ++size)
    Refused(Bytes(size, 0), {"?bad"}, "the file is shorter than its 16-byte header");
}

TEST_F(HostileArchiveTest, LengthsAndOffsetsOutsideTheFile) {
  ImageRecord negative = Stored("victim", "evil");
  negative.original_length = -4;
  Refused(MakeArchive({negative}), {"+bad"}, "entry 0 (victim) has a negative length");
  ImageRecord past_end = Stored("victim", "evil");
  past_end.original_length = 5;
  Refused(MakeArchive({past_end}), {"+bad"}, "entry 0 (victim) has data outside the file");
  ImageRecord before_start = Stored("victim", "evil");
  before_start.data_offset = 0x7FFFFFF0;
  Refused(MakeArchive({before_start}), {"bad", "victim"}, "has data outside the file");
  ImageRecord negative_offset = Stored("victim", "evil");
  negative_offset.data_offset = -8;
  Refused(MakeArchive({negative_offset}), {"+bad"}, "has data outside the file");
  Refused(MakeArchive({Packed(4, 1000, {0x00, 0x00})}, 1), {"+bad"}, "has data outside the file");
}

TEST_F(HostileArchiveTest, MembersSharingTheirBytesAreRefused) {
  // A hundred records on one stream would write it a hundred times over.
  std::vector<ImageRecord> records;
  for (int i = 0; i < 100; ++i) {
    ImageRecord record = Packed(10, 5, i == 0 ? Bytes{0xB0, 0x80, 0x05, 0xC0, 0x00} : Bytes{});
    record.name = "copy" + std::to_string(i);
    record.data_offset = static_cast<std::int32_t>(kHeaderSize + kRecordSize * 100);
    records.push_back(record);
  }
  Refused(MakeArchive(records, 1), {"+bad"},
          "Damaged quiver bad.qvr - entry 1 (copy1) overlaps entry 0 (copy0).\n");
  ImageRecord first = Stored("first", "abcd");
  ImageRecord second = Stored("second", "efgh");
  second.data_offset = static_cast<std::int32_t>(kHeaderSize + kRecordSize * 2 + 2);
  Refused(MakeArchive({first, second}), {"bad", "first"},
          "Damaged quiver bad.qvr - entry 1 (second) overlaps entry 0 (first).\n");
}

TEST_F(HostileArchiveTest, MemberInsideTheHeaderOrTableIsRefused) {
  ImageRecord table = Stored("table", "x");
  table.original_length = 20;
  table.data_offset = 4;
  Refused(MakeArchive({table}), {"?bad"},
          "Damaged quiver bad.qvr - entry 0 (table) has data inside the header or table.\n");
}

TEST_F(HostileArchiveTest, CompressedStreamWithoutEndToken) {
  // Literal 'a' four times, then the stream stops.
  Refused(MakeArchive({Packed(4, 5, {0xB0, 0xD8, 0x6C, 0x36, 0x10})}, 1), {"+bad"},
          "Decompression error for victim\n");
}

TEST_F(HostileArchiveTest, CompressedStreamsProducingTooManyOrTooFewBytes) {
  // Ten 'a's where the record promises 9, then 11.
  const Bytes ten = {0xB0, 0x80, 0x05, 0xC0, 0x00};
  Refused(MakeArchive({Packed(9, 5, ten)}, 1), {"+bad"}, "Decompression error for victim\n");
  Refused(MakeArchive({Packed(11, 5, ten)}, 1), {"bad", "victim"},
          "Decompression error for victim\n");
  // A length that cuts the stream short of its end token.
  Refused(MakeArchive({Packed(10, 3, {0xB0, 0x80, 0x05})}, 1), {"+bad"},
          "Decompression error for victim\n");
}

TEST_F(HostileArchiveTest, CompressedLengthNoStreamCouldReach) {
  // Found by fuzzing: 2 GiB promised by a 5-byte stream made the reader
  // reserve it all. Five bytes can yield 40 at the most.
  const Bytes ten = {0xB0, 0x80, 0x05, 0xC0, 0x00};
  Refused(MakeArchive({Packed(0x7FFFFFFF, 5, ten)}, 1), {"+bad"},
          "entry 0 (victim) is longer than its stream can hold");
  Refused(MakeArchive({Packed(41, 5, ten)}, 1), {"?bad"}, "is longer than its stream can hold");
  Refused(MakeArchive({Packed(40, 5, ten)}, 1), {"+bad"}, "Decompression error for victim\n");
}

TEST_F(HostileArchiveTest, FailureStopsAnExplodeAndKeepsWhatWentBefore) {
  Write("work/bad.qvr",
        MakeArchive({Stored("first", "1"), Stored("../escape", "2"), Stored("third", "3")}));
  RunResult run = RunProgram(QuiverxPath(), {"+bad"}, work_);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "Opened bad.qvr.\nFilecount - 3\nFiles are not compressed.\nfirst extracted.\n"
            "Unable to extract ../escape - unsafe name (parent directory).\n");
  EXPECT_EQ(Read("work/first"), Bytes{'1'});
  EXPECT_FALSE(Exists("escape"));
  EXPECT_FALSE(Exists("work/third"));
}

TEST_F(HostileArchiveTest, ExcessBytesAfterTheLastMemberAreIgnored) {
  Bytes archive = MakeArchive({Stored("ok", "fine")});
  archive.insert(archive.end(), 100, 0xEE);
  Write("work/tail.qvr", archive);
  RunResult run = RunProgram(QuiverxPath(), {"+tail"}, work_);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Read("work/ok"), Bytes({'f', 'i', 'n', 'e'}));
}

TEST_F(HostileArchiveTest, ControlCharactersInNamesReachTheConsoleAsQuestionMarks) {
  // Would retitle the terminal and forge a line of the report; the file
  // still gets its name as stored where the file system takes it.
  const std::string name = "a\x1b]0;owned\x07\nb extracted.";
  Write("work/bad.qvr", MakeArchive({Stored(name, "data")}));
  const std::string opened = "Opened bad.qvr.\nFilecount - 1\nFiles are not compressed.\n";
  RunResult list = RunProgram(QuiverxPath(), {"?bad"}, work_);
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.output, opened + "a?]0;owned??b extracted. - 4\n");
  if (kWindowsFileNames) {
    Refused(MakeArchive({Stored(name, "data")}), {"+bad"},
            "Unable to extract a?]0;owned??b extracted. - unsafe name (character Windows "
            "refuses).\n");
    return;
  }
  RunResult explode = RunProgram(QuiverxPath(), {"+bad"}, work_);
  EXPECT_EQ(explode.status, 0);
  EXPECT_EQ(explode.output, opened + "a?]0;owned??b extracted. extracted.\n");
  EXPECT_EQ(Read("work/" + name), Text("data"));
}

TEST_F(HostileArchiveTest, NamesInDamageReportsCannotDriveTheTerminal) {
  // Titles the terminal, clears it, opens a C1 control sequence and forges a
  // line of its own, in every report that names a damaged member.
  const std::string name =
      "n\x1b]0;PWNED\x07\x1b[2J\xc2\x9b"
      "31m\nForged line.";
  const std::string shown = "n?]0;PWNED??[2J?31m?Forged line.";
  ImageRecord negative = Stored(name, "evil");
  negative.original_length = -4;
  ImageRecord outside = Stored(name, "evil");
  outside.original_length = 5;
  ImageRecord other = Stored("other", "abcd");
  ImageRecord overlapping = Stored(name, "efgh");
  overlapping.data_offset = static_cast<std::int32_t>(kHeaderSize + kRecordSize * 2 + 2);
  ImageRecord long_stream = {name, 41, kAfterTable, 5, {0xB0, 0x80, 0x05, 0xC0, 0x00}};
  const std::pair<Bytes, std::string> damaged[] = {
      {MakeArchive({negative}), "entry 0 (" + shown + ") has a negative length"},
      {MakeArchive({outside}), "entry 0 (" + shown + ") has data outside the file"},
      {MakeArchive({overlapping, other}), "entry 1 (other) overlaps entry 0 (" + shown + ")"},
      {MakeArchive({other, overlapping}), "entry 1 (" + shown + ") overlaps entry 0 (other)"},
      {MakeArchive({long_stream}, 1),
       "entry 0 (" + shown + ") is longer than its stream can hold"}};
  const std::vector<std::string> modes[] = {
      {"?bad"},     {"+bad"}, {"-t", "bad"}, {"--format=tsv", "?bad"}, {"--format=json", "?bad"},
      {"bad", name}};
  for (const auto& [archive, report] : damaged) {
    for (const auto& args : modes) {
      const RunResult run = Refused(archive, args, "Damaged quiver bad.qvr - " + report + ".\n");
      for (char c : run.output) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(c == '\n' || (byte >= 0x20 && byte != 0x7F && byte != 0xC2)) << run.output;
      }
    }
  }
}

TEST_F(HostileArchiveTest, SymbolicLinkOnTheMembersPathIsNeverFollowed) {
  std::filesystem::create_directory(Path("outside"));
  std::filesystem::create_directories(Path("work/a"));
  if (!Link("../outside", "work/linkdir") || !Link("../../outside", "work/a/deeper"))
    GTEST_SKIP() << "no symbolic links here";
  Refused(MakeArchive({Stored("linkdir/pwn.txt", "evil")}), {"+bad"},
          "Unable to extract linkdir/pwn.txt - a directory on its path is a symbolic link.\n");
  Refused(MakeArchive({Stored("a\\deeper\\new\\pwn.txt", "evil")}),
          {"bad", "a\\deeper\\new\\pwn.txt"}, "a directory on its path is a symbolic link");
  EXPECT_TRUE(std::filesystem::is_empty(Path("outside")));
}

TEST_F(HostileArchiveTest, SymbolicLinkAtTheMembersPathIsReplacedWithAPlainNewFile) {
  Write("target", std::string("keep"));
  std::filesystem::permissions(Path("target"), static_cast<std::filesystem::perms>(04755));
  if (!Link("../target", "work/linkfile")) GTEST_SKIP() << "no symbolic links here";
  Write("work/bad.qvr", MakeArchive({Stored("linkfile", "data")}));
  RunResult run = RunProgram(QuiverxPath(), {"+bad"}, work_);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_FALSE(std::filesystem::is_symlink(Path("work/linkfile")));
  EXPECT_EQ(Read("work/linkfile"), Text("data"));
  EXPECT_EQ(Read("target"), Text("keep"));
  mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat st;
  ASSERT_EQ(::stat(Path("work/linkfile").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
}

#ifndef _WIN32
// Windows files have no special bits: their counterpart is the read-only
// attribute kept by the extractor test.
TEST_F(HostileArchiveTest, ReplacedFileKeepsItsPermissionsButNoSpecialBits) {
  Write("work/tool", std::string("old"));
  std::filesystem::permissions(Path("work/tool"), static_cast<std::filesystem::perms>(06755));
  Write("work/bad.qvr", MakeArchive({Stored("tool", "new")}));
  RunResult run = RunProgram(QuiverxPath(), {"+bad"}, work_);
  EXPECT_EQ(run.status, 0) << run.output;
  struct stat st;
  ASSERT_EQ(::stat(Path("work/tool").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_EQ(Read("work/tool"), Text("new"));
}
#endif

TEST_F(HostileArchiveTest, C1ControlsInNamesReachTheConsoleAsQuestionMarks) {
  // 0x9B and its UTF-8 form C2 9B introduce a control sequence on many
  // terminals; an accented letter (C3 A9) is no control.
  const std::string name =
      "a\x9b"
      "2Jb\xc2\x9b"
      "2Jc\xc3\xa9";
  Write("work/bad.qvr", MakeArchive({Stored(name, "data")}));
  RunResult list = RunProgram(QuiverxPath(), {"?bad"}, work_);
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.output,
            "Opened bad.qvr.\nFilecount - 1\nFiles are not compressed.\n"
            "a?2Jb?2Jc\xc3\xa9 - 4\n");
}

}  // namespace
}  // namespace quiver::test
