// The quiver program end to end, without compression.
#include <sys/stat.h>
#include <unistd.h>

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

struct Member {
  std::string name;
  Bytes data;
};

// The archive a stored build of `members` must produce, byte for byte.
Bytes StoredArchive(const std::vector<Member>& members) {
  std::vector<TocEntry> toc;
  std::int32_t offset = static_cast<std::int32_t>(kHeaderSize + kRecordSize * members.size());
  for (const Member& m : members) {
    TocEntry entry;
    std::strcpy(entry.name, m.name.c_str());
    entry.crc = NameCrc(entry.name);
    entry.original_length = static_cast<std::int32_t>(m.data.size());
    entry.data_offset = offset;
    offset += entry.original_length;
    toc.push_back(entry);
  }
  std::stable_sort(toc.begin(), toc.end(),
                   [](const TocEntry& a, const TocEntry& b) { return a.crc < b.crc; });
  Bytes out(kHeaderSize + kRecordSize * toc.size());
  ArchiveHeader header;
  header.count = static_cast<std::int32_t>(toc.size());
  EncodeHeader(header, out.data());
  for (std::size_t i = 0; i < toc.size(); ++i)
    EncodeTocEntry(toc[i], out.data() + kHeaderSize + kRecordSize * i);
  for (const Member& m : members) out.insert(out.end(), m.data.begin(), m.data.end());
  return out;
}

class BuilderCliTest : public ScratchTest {
 protected:
  void WriteMembers(const std::vector<Member>& members) {
    std::string list;
    for (const Member& m : members) {
      std::string path = m.name;
      std::replace(path.begin(), path.end(), '\\', '/');
      Write(path, m.data);
      list += m.name + "\n";
    }
    Write("list.rsp", list);
  }

  std::vector<Member> TenTwentyThirty() {
    return {
        {"a.txt", TextData(10, 1)}, {"b\\b.bin", RandomData(20, 2)}, {"c.dat", RunsData(30, 3)}};
  }
};

TEST_F(BuilderCliTest, StoredBuildTranscriptAndBytes) {
  auto members = TenTwentyThirty();
  WriteMembers(members);
  RunResult run = Quiver({"out", "@list"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
            "Response file    = list.rsp\n"
            "Destination file = out.qvr\n"
            "Opened list.rsp\n"
            "filecount = 3\n"
            "a.txt logged - " +
                Hex(NameCrc("a.txt")) +
                " 10\n"
                "b\\b.bin logged - " +
                Hex(NameCrc("b\\b.bin")) +
                " 20\n"
                "c.dat logged - " +
                Hex(NameCrc("c.dat")) +
                " 30\n"
                "toc size = 816\n"
                "Copying file a.txt of 10 bytes | 2 to go\n"
                "Copying file b\\b.bin of 20 bytes | 1 to go\n"
                "Copying file c.dat of 30 bytes | 0 to go\n"
                "\nTotal Data Size = 60\n\n"
                "Closed .rsp file list.rsp\n"
                "Closed quiver out.qvr\n");
  Bytes archive = Read("out.qvr");
  ASSERT_EQ(archive.size(), 892u);
  EXPECT_EQ(archive, StoredArchive(members));
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

TEST_F(BuilderCliTest, MisuseShowsTheUsageTextWithStatus2) {
  Write("list.rsp", std::string("x\n"));
  const std::vector<std::vector<std::string>> misuses = {{},
                                                         {"out"},
                                                         {"-c", "out", "@list", "extra"},
                                                         {"-C", "out", "@list"},
                                                         {"-cs", "out", "@list"},
                                                         {"out", "list"},
                                                         {"-s", "out", "list"}};
  for (const auto& args : misuses) {
    RunResult run = Quiver(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, kUsage);
  }
  EXPECT_EQ(Tree(), std::vector<std::string>{"list.rsp"});
}

TEST_F(BuilderCliTest, NamesGetTheirExtensionsWhateverTheyCarry) {
  Write("m", std::string("data"));
  Write("list.rsp.rsp", std::string("m\n"));
  Write(".rsp", std::string("m\n"));
  Write("list.rsp", std::string("m\n"));
  EXPECT_EQ(Quiver({"out.qvr", "@list.rsp"}).status, 0);
  EXPECT_TRUE(Exists("out.qvr.qvr"));
  RunResult at_alone = Quiver({"bare", "@"});
  EXPECT_EQ(at_alone.status, 0);
  EXPECT_NE(at_alone.output.find("Response file    = .rsp\n"), std::string::npos);
  // Two arguments: the first is the destination even when it looks like an option.
  RunResult dash = Quiver({"-c", "@list"});
  EXPECT_EQ(dash.status, 0);
  EXPECT_NE(dash.output.find("Destination file = -c.qvr\n"), std::string::npos);
  EXPECT_EQ(Read("-c.qvr"), StoredArchive({{"m", Bytes{'d', 'a', 't', 'a'}}}));
}

TEST_F(BuilderCliTest, CommentsAndAnEmptyList) {
  Write("a.txt", std::string("A"));
  Write("c#d.txt", std::string("CD"));
  Write("e.txt", std::string("E"));
  Write("list.rsp", std::string("a.txt #first word\n#b.txt\nc#d.txt e.txt"));
  RunResult run = Quiver({"out", "@list"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Read("out.qvr"),
            StoredArchive({{"a.txt", {'A'}}, {"c#d.txt", {'C', 'D'}}, {"e.txt", {'E'}}}));
  Write("empty.rsp", std::string("# nothing\n\n  # here\n"));
  RunResult empty = Quiver({"none", "@empty"});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.output,
            "Response file    = empty.rsp\n"
            "Destination file = none.qvr\n"
            "Opened empty.rsp\n"
            "filecount = 0\n"
            "toc size = 0\n"
            "\nTotal Data Size = 0\n\n"
            "Closed .rsp file empty.rsp\n"
            "Closed quiver none.qvr\n");
  EXPECT_EQ(Read("none.qvr"), Bytes(16, 0));
}

TEST_F(BuilderCliTest, MissingResponseFileCreatesNothing) {
  RunResult run = Quiver({"out", "@absent"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "Response file    = absent.rsp\n"
            "Destination file = out.qvr\n"
            "Unable to open response file absent.rsp\n");
  EXPECT_TRUE(Tree().empty());
}

TEST_F(BuilderCliTest, FailedBuildsLeaveAnExistingArchiveUntouched) {
  Write("out.qvr", std::string("precious old archive"));
  Write("good", std::string("g"));
  Write("empty", std::string());
  Write("list.rsp", std::string("good empty\n"));
  RunResult empty = Quiver({"out", "@list"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(
      empty.output.substr(empty.output.find("filecount")),
      "filecount = 2\ngood logged - " + Hex(NameCrc("good")) + " 1\nFilelength on empty == 0\n");
  Write("list.rsp", std::string("good absent\n"));
  RunResult missing = Quiver({"out", "@list"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("Unable to open absent\n"), std::string::npos);
  Write("list.rsp", std::string("good\n"));
  ::mkfifo(Path("pipe").c_str(), 0644);
  std::filesystem::create_directory(Path("dir"));
  Write("list.rsp", std::string("good pipe\n"));
  EXPECT_NE(Quiver({"out", "@list"}).output.find("Unable to open pipe\n"), std::string::npos);
  Write("list.rsp", std::string("dir\n"));
  EXPECT_NE(Quiver({"out", "@list"}).output.find("Unable to open dir\n"), std::string::npos);
  EXPECT_EQ(Read("out.qvr"), Text("precious old archive"));
  EXPECT_EQ(Tree(),
            (std::vector<std::string>{"dir/", "empty", "good", "list.rsp", "out.qvr", "pipe"}));
}

TEST_F(BuilderCliTest, FailingWriteReportsAndKeepsTheOldArchive) {
  Bytes old = RandomData(300, 4);
  Write("out.qvr", old);
  Write("big", TextData(200000, 5));
  Write("list.rsp", std::string("big\n"));
  RunOptions limited;
  limited.file_size_limit = 100000;
  RunResult run = Quiver({"out", "@list"}, limited);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find(
                "Copying file big of 200000 bytes | 0 to go\nUnable to write quiver out.qvr\n"),
            std::string::npos);
  EXPECT_EQ(Read("out.qvr"), old);
  EXPECT_EQ(Tree(), (std::vector<std::string>{"big", "list.rsp", "out.qvr"}));
}

TEST_F(BuilderCliTest, LostTranscriptFailsTheBuildAndKeepsTheOldArchive) {
  Bytes old = RandomData(300, 4);
  Write("out.qvr", old);
  Write("m", std::string("member"));
  Write("list.rsp", std::string("m\n"));
  RunOptions full;
  full.standard_output = StandardOutput::kFullDevice;
  for (const char* option : {"", "-s"}) {
    std::vector<std::string> args = {"out", "@list"};
    if (*option != '\0') args.insert(args.begin(), option);
    RunResult run = Quiver(args, full);
    EXPECT_EQ(run.status, 1) << option;
    EXPECT_EQ(run.output, "quiver: unable to write standard output\n") << option;
    EXPECT_EQ(Read("out.qvr"), old) << option;
    EXPECT_EQ(Tree(), (std::vector<std::string>{"list.rsp", "m", "out.qvr"})) << option;
  }
}

TEST_F(BuilderCliTest, RebuildOverALongerArchiveKeepsNoTail) {
  Write("out.qvr", RandomData(5000, 6));
  Write("m", std::string("tiny"));
  Write("list.rsp", std::string("m\n"));
  ASSERT_EQ(Quiver({"out", "@list"}).status, 0);
  EXPECT_EQ(Read("out.qvr"), StoredArchive({{"m", Bytes{'t', 'i', 'n', 'y'}}}));
}

TEST_F(BuilderCliTest, SymbolicLinkDestinationKeepsTheLink) {
  std::filesystem::create_directory(Path("real"));
  Write("real/target.qvr", std::string("old"));
  std::filesystem::create_symlink("real/target.qvr", Path("out.qvr"));
  Write("m", std::string("new"));
  Write("list.rsp", std::string("m\n"));
  ASSERT_EQ(Quiver({"out", "@list"}).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(Path("out.qvr")));
  EXPECT_EQ(Read("real/target.qvr"), StoredArchive({{"m", Bytes{'n', 'e', 'w'}}}));
}

TEST_F(BuilderCliTest, DestinationThatIsNotAFileIsRefused) {
  std::filesystem::create_directory(Path("out.qvr"));
  Write("m", std::string("x"));
  Write("list.rsp", std::string("m\n"));
  RunResult run = Quiver({"out", "@list"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "Response file    = list.rsp\n"
            "Destination file = out.qvr\n"
            "Opened list.rsp\n"
            "Unable to create quiver out.qvr\n");
  EXPECT_TRUE(std::filesystem::is_empty(Path("out.qvr")));
}

TEST_F(BuilderCliTest, OverlongNamesAreRefusedBeforeAnythingIsCreated) {
  Write("list.rsp", std::string(256, 'n') + "\n");
  RunResult token = Quiver({"out", "@list"});
  EXPECT_EQ(token.status, 1);
  EXPECT_NE(token.output.find("Member name longer than 255 characters in list.rsp"),
            std::string::npos);
  RunResult dest = Quiver({std::string(252, 'd'), "@list"});
  EXPECT_EQ(dest.status, 1);
  EXPECT_NE(dest.output.find("Destination name is longer than 251 characters"), std::string::npos);
  RunResult response = Quiver({"out", "@" + std::string(252, 'r')});
  EXPECT_EQ(response.status, 1);
  EXPECT_EQ(Tree(), std::vector<std::string>{"list.rsp"});
  // 251 characters still fit.
  Write(std::string(251, 'r') + ".rsp", std::string("# none\n"));
  EXPECT_EQ(Quiver({"out", "@" + std::string(251, 'r')}).status, 0);
}

TEST_F(BuilderCliTest, SizesTheFieldsCannotHoldAreRefusedBeforeWriting) {
  // Sparse files: measured, never read.
  Write("huge", Bytes{});
  std::filesystem::resize_file(Path("huge"), 0x80000000ull);
  Write("half1", Bytes{});
  std::filesystem::resize_file(Path("half1"), 0x40000000ull);
  Write("half2", Bytes{});
  std::filesystem::resize_file(Path("half2"), 0x40000000ull);
  Write("list.rsp", std::string("huge\n"));
  RunResult member = Quiver({"out", "@list"});
  EXPECT_EQ(member.status, 1);
  EXPECT_NE(member.output.find("huge is too large for a quiver (2 GiB or more)\n"),
            std::string::npos);
  Write("list.rsp", std::string("half1 half2\n"));
  RunResult archive = Quiver({"out", "@list"});
  EXPECT_EQ(archive.status, 1);
  EXPECT_NE(archive.output.find("toc size = 544\nQuiver out.qvr would be 2 GiB or larger\n"),
            std::string::npos);
  EXPECT_FALSE(Exists("out.qvr"));
}

TEST_F(BuilderCliTest, RunningOutOfMemoryIsReportedAndCreatesNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address checker reserves more address space than the limit";
#endif
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
  RunResult run = Quiver({"out", "@list"}, limited);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.output.ends_with("filecount = 300000\nOut of memory\n")) << run.output;
  EXPECT_EQ(Tree(), (std::vector<std::string>{"list.rsp"}));
}

TEST_F(BuilderCliTest, CollisionsAndDuplicatesStayInTheTable) {
  Write("Name.txt", std::string("upper"));
  Write("name.txt", std::string("lower"));
  Write("list.rsp", std::string("Name.txt name.txt Name.txt\n"));
  RunResult run = Quiver({"out", "@list"});
  EXPECT_EQ(run.status, 0);
  std::string crc = Hex(NameCrc("name.txt"));
  EXPECT_NE(run.output.find("toc size = 816\n"
                            "CRC collision - Name.txt and name.txt - CRC = " +
                            crc +
                            ".\n"
                            "CRC collision - Name.txt and Name.txt - CRC = " +
                            crc +
                            ".\n"
                            "Copying file Name.txt"),
            std::string::npos);
  EXPECT_EQ(Read("out.qvr"), StoredArchive({{"Name.txt", {'u', 'p', 'p', 'e', 'r'}},
                                            {"name.txt", {'l', 'o', 'w', 'e', 'r'}},
                                            {"Name.txt", {'u', 'p', 'p', 'e', 'r'}}}));
}

TEST_F(BuilderCliTest, MembersAroundTheCopyBufferSize) {
  std::vector<Member> members = {{"one", RandomData(1048576, 7)},
                                 {"two", RandomData(1048577, 8)},
                                 {"three", RandomData(2500000, 9)}};
  WriteMembers(members);
  ASSERT_EQ(Quiver({"out", "@list"}).status, 0);
  EXPECT_EQ(Read("out.qvr"), StoredArchive(members));
}

}  // namespace
}  // namespace quiver::test
