// quiver -c and -s end to end, with quiverx extracting what they build.
#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "archive_layout.h"
#include "compression_stage.h"
#include "lzss_encoder.h"
#include "name_crc.h"
#include "platform.h"
#include "reference_encoder.h"
#include "scratch.h"
#include "thread_scratch.h"
#include "worker_pool.h"

namespace quiver::test {
namespace {

class CompressedArchiveTest : public ScratchTest {
 protected:
  // Explodes out.qvr into x/ and compares every member with its source.
  void ExpectExplodeMatches(const std::vector<std::pair<std::string, Bytes>>& members) {
    std::filesystem::remove_all(Path("x"));
    std::filesystem::create_directory(Path("x"));
    std::filesystem::copy_file(Path("out.qvr"), Path("x/out.qvr"));
    RunResult run = RunProgram(QuiverxPath(), {"+out"}, Path("x"));
    ASSERT_EQ(run.status, 0) << run.output;
    for (const auto& [name, data] : members) EXPECT_EQ(Read("x/" + name), data) << name;
  }

  // The compressed length the archive recorded for a member.
  std::int32_t RecordedLength(const std::string& name) {
    Bytes archive = Read("out.qvr");
    ArchiveHeader header = DecodeHeader(archive.data());
    for (int i = 0; i < header.count; ++i) {
      TocEntry entry = DecodeTocEntry(archive.data() + kHeaderSize + kRecordSize * i);
      if (name == entry.name) return entry.compressed_length;
    }
    return -1;
  }
};

TEST_F(CompressedArchiveTest, CompressTranscript) {
  WriteMembers({{"text.txt", TextData(1000, 1)}, {"one", Bytes{'!'}}});
  RunResult run = Quiver({"-c", "out", "@list"});
  ASSERT_EQ(run.status, 0);
  // The text's stream is 355 bytes, 35% of it; the one byte's is 3, 300%.
  EXPECT_EQ(run.output,
            "Response file    = list.rsp\n"
            "Destination file = out.qvr\n"
            "Opened list.rsp\n"
            "filecount = 2\n"
            "text.txt logged - " +
                Hex(NameCrc("text.txt")) +
                " 1000 355 65%\n"
                "one logged - " +
                Hex(NameCrc("one")) +
                " 1 3 -200%\n"
                "toc size = 544\n"
                "Copying file text.txt of 355 bytes | 1 to go\n"
                "Copying file one of 3 bytes | 0 to go\n"
                "\n"
                "Totals - Original Size   = 1001\n"
                "         Compressed Size = 358\n"
                "         Ratio           = 65%\n\n"
                "Deleting temporary files\n"
                "Closed .rsp file list.rsp\n"
                "Closed quiver out.qvr\n");
  EXPECT_EQ(RecordedLength("text.txt"), 355);
  EXPECT_EQ(RecordedLength("one"), 3);
  EXPECT_EQ(Tree(), (std::vector<std::string>{"list.rsp", "one", "out.qvr", "text.txt"}));
  ExpectExplodeMatches({{"text.txt", TextData(1000, 1)}, {"one", Bytes{'!'}}});
}

TEST_F(CompressedArchiveTest, SmallestStoresWhatDoesNotShrink) {
  // A member whose stream is exactly its own length: ratio 0, stored raw.
  Bytes boundary;
  WorkerPool pool(1, ReleaseThreadScratch);
  for (std::size_t k = 1; k < 400 && boundary.empty(); ++k) {
    Bytes candidate = RandomData(k, 11);
    candidate.insert(candidate.end(), 17, 'a');
    Write("probe", candidate);
    FileStatus status;
    const FileHandle temp = CreateOrTruncate(Path("probe.t").c_str());
    CompressOutcome outcome =
        CompressMember(EncoderWindow{}, OpenForReading(Path("probe").c_str(), status), temp,
                       static_cast<std::int64_t>(candidate.size()), pool);
    CloseFile(temp);
    if (outcome.length == static_cast<std::int32_t>(candidate.size())) boundary = candidate;
  }
  ASSERT_FALSE(boundary.empty());
  std::filesystem::remove(Path("probe"));
  std::filesystem::remove(Path("probe.t"));
  std::string n = std::to_string(boundary.size());
  WriteMembers({{"edge.bin", boundary}, {"one", Bytes{'!'}}, {"text.txt", TextData(1000, 1)}});
  RunResult run = Quiver({"-s", "out", "@list"});
  ASSERT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("edge.bin logged - " + Hex(NameCrc("edge.bin")) + " " + n + " " + n +
                            " 0% - storing uncompressed\n"
                            "one logged - " +
                            Hex(NameCrc("one")) + " 1 3 -200% - storing uncompressed\n"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(RecordedLength("edge.bin"), 0);
  EXPECT_EQ(RecordedLength("one"), 0);
  EXPECT_GT(RecordedLength("text.txt"), 0);
  std::int32_t text = RecordedLength("text.txt");
  EXPECT_NE(run.output.find("Copying file one of 1 bytes | 1 to go\n"), std::string::npos);
  EXPECT_NE(
      run.output.find("Compressed Size = " + std::to_string(boundary.size() + 1 + text) + "\n"),
      std::string::npos);
  ExpectExplodeMatches(
      {{"edge.bin", boundary}, {"one", Bytes{'!'}}, {"text.txt", TextData(1000, 1)}});
}

TEST_F(CompressedArchiveTest, NoMembersGiveRatioZero) {
  Write("list.rsp", std::string("# none\n"));
  RunResult run = Quiver({"-c", "out", "@list"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("toc size = 0\n\n"
                            "Totals - Original Size   = 0\n"
                            "         Compressed Size = 0\n"
                            "         Ratio           = 0%\n\n"
                            "Deleting temporary files\n"),
            std::string::npos)
      << run.output;
  Bytes header(16, 0);
  header[4] = 1;
  EXPECT_EQ(Read("out.qvr"), header);
}

TEST_F(CompressedArchiveTest, AllStoredUnderSmallestStillMarksTheArchiveCompressed) {
  WriteMembers({{"r", RandomData(500, 3)}});
  ASSERT_EQ(Quiver({"-s", "out", "@list"}).status, 0);
  Bytes archive = Read("out.qvr");
  EXPECT_EQ(DecodeHeader(archive.data()).compressed, 1);
  EXPECT_EQ(RecordedLength("r"), 0);
  ExpectExplodeMatches({{"r", RandomData(500, 3)}});
}

TEST_F(CompressedArchiveTest, ManyShapesInOneRunRoundTrip) {
  std::vector<std::pair<std::string, Bytes>> members;
  for (int i = 0; i < 120; ++i)
    members.push_back({"small" + std::to_string(i), TextData(1 + i * 37 % 900, i)});
  members.push_back({"random.bin", RandomData(300000, 1)});
  members.push_back({"runs.bin", RunsData(1200000, 2)});
  members.push_back({"text.txt", TextData(1100000, 3)});
  members.push_back({"binary.dat", BinaryData(9000, 4)});
  WriteMembers(members);
  // The first member listed twice: two compressions, two temporary files.
  Bytes list = Read("list.rsp");
  Write("list.rsp", "small0\n" + std::string(list.begin(), list.end()));
  for (const std::string option : {"-c", "-s"}) {
    RunResult run = Quiver({option, "out", "@list"});
    ASSERT_EQ(run.status, 0) << run.output;
    ExpectExplodeMatches(members);
    std::filesystem::remove_all(Path("x"));
    for (const std::string& path : Tree()) EXPECT_EQ(path.find('$'), std::string::npos) << path;
  }
}

TEST_F(CompressedArchiveTest, StreamsAreThoseOfOneCoderGoingThroughTheMembersInOrder) {
  // However the members are spread over threads, each stream must be the
  // one the plain algorithm writes with the window the earlier members left.
  std::vector<std::pair<std::string, Bytes>> members;
  for (int i = 0; i < 60; ++i) {
    std::string name = "m";
    name += std::to_string(i);
    std::size_t size = static_cast<std::size_t>(1 + (i * 977) % 9000);
    members.push_back({name, i % 3 == 0   ? TextData(size, i)
                             : i % 3 == 1 ? BinaryData(size, i)
                                          : RunsData(size, i)});
  }
  members.push_back({"big.txt", TextData(300000, 99)});
  WriteMembers(members);
  members.push_back({"m0", members[0].second});
  Bytes list = Read("list.rsp");
  Write("list.rsp", std::string(list.begin(), list.end()) + "m0\n");
  ASSERT_EQ(Quiver({"-c", "out", "@list"}).status, 0);
  Bytes archive = Read("out.qvr");
  std::size_t offset = kHeaderSize + kRecordSize * members.size();
  ReferenceEncoder reference;
  for (const auto& [name, data] : members) {
    Bytes stream = reference.Compress(data);
    ASSERT_LE(offset + stream.size(), archive.size());
    ASSERT_TRUE(std::equal(stream.begin(), stream.end(),
                           archive.begin() + static_cast<std::ptrdiff_t>(offset)))
        << name;
    offset += stream.size();
  }
  EXPECT_EQ(offset, archive.size());
}

TEST_F(CompressedArchiveTest, TemporaryNamesNeverTakeAnExistingFile) {
  // notes.txt beside the user's own notes.tx$; a.txt and a.tx share a.tx$;
  // keep.ab$ is its own temporary name.
  const Bytes users = Text("the user's own file");
  Write("notes.tx$", users);
  std::vector<std::pair<std::string, Bytes>> members = {{"notes.txt", TextData(4000, 1)},
                                                        {"a.txt", TextData(3000, 2)},
                                                        {"a.tx", TextData(2000, 3)},
                                                        {"keep.ab$", TextData(1000, 4)}};
  WriteMembers(members);
  for (const std::string option : {"-c", "-s"}) {
    RunResult run = Quiver({option, "out", "@list"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(Read("notes.tx$"), users);
    for (const auto& [name, data] : members) EXPECT_EQ(Read(name), data);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"a.tx", "a.txt", "keep.ab$", "list.rsp",
                                                "notes.tx$", "notes.txt", "out.qvr"}));
    ExpectExplodeMatches(members);
    std::filesystem::remove_all(Path("x"));
  }
}

TEST_F(CompressedArchiveTest, FailingTemporaryWriteCleansUpWith255) {
  if (!FileSizeLimitBinds()) GTEST_SKIP() << "no file size limit binds here";
  Bytes old = Text("old archive");
  Write("out.qvr", old);
  WriteMembers({{"first.txt", TextData(5000, 1)}, {"big.bin", RandomData(400000, 2)}});
  RunOptions limited;
  limited.file_size_limit = 200000;
  // Members side by side, and a member alone.
  for (const char* list : {"first.txt big.bin\n", "big.bin\n"}) {
    Write("list.rsp", std::string(list));
    RunResult run = Quiver({"-c", "out", "@list"}, limited);
    EXPECT_EQ(run.status, 255) << list;
    EXPECT_NE(run.output.find("Fatal error: Fatal error in Output"), std::string::npos)
        << run.output;
    EXPECT_EQ(Read("out.qvr"), old) << list;
    EXPECT_EQ(Tree(), (std::vector<std::string>{"big.bin", "first.txt", "list.rsp", "out.qvr"}));
  }
}

TEST_F(CompressedArchiveTest, FailingArchiveWriteRemovesTemporaryFiles) {
  if (!FileSizeLimitBinds()) GTEST_SKIP() << "no file size limit binds here";
  // Each temporary file fits the limit; the archive holding both does not.
  WriteMembers({{"big.txt", TextData(1500000, 1)}, {"big2.txt", TextData(1500000, 2)}});
  RunOptions limited;
  limited.file_size_limit = 400000;
  RunResult run = Quiver({"-c", "out", "@list"}, limited);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Unable to write quiver out.qvr\n"), std::string::npos) << run.output;
  EXPECT_EQ(Tree(), (std::vector<std::string>{"big.txt", "big2.txt", "list.rsp"}));
}

TEST_F(CompressedArchiveTest, SigtermLeavesNothingOfTheRun) {
  WriteMembers({{"big.txt", TextData(4000000, 1)}, {"b.txt", TextData(1000, 2)}});
  RunningProgram build(QuiverPath(), {"-c", "out", "@list"}, dir_);
  ASSERT_TRUE(WaitForPath(Path("big.tx$")));
  build.Stop();
  EXPECT_EQ(build.Wait().status, kStoppedStatus);
  EXPECT_EQ(Tree(), (std::vector<std::string>{"b.txt", "big.txt", "list.rsp"}));
}

TEST_F(CompressedArchiveTest, ReaderOfTheReportGoneLeavesNothingOfTheRun) {
  // Enough lines to fill the output buffer while temporary files exist.
  std::vector<std::pair<std::string, Bytes>> members;
  std::vector<std::string> tree = {"list.rsp", "out.qvr"};
  for (int i = 0; i < 300; ++i) {
    members.push_back({std::to_string(i) + ".txt", TextData(200, i)});
    tree.push_back(members.back().first);
  }
  WriteMembers(members);
  Write("out.qvr", std::string("old archive"));
  std::sort(tree.begin(), tree.end());
  RunOptions closed;
  closed.standard_output = StandardOutput::kClosedPipe;
  for (const char* option : {"-s", "-c"}) {
    EXPECT_EQ(Quiver({option, "out", "@list"}, closed).status, kReaderGoneStatus) << option;
    EXPECT_EQ(Tree(), tree) << option;
    EXPECT_EQ(Read("out.qvr"), Text("old archive")) << option;
  }
}

#ifndef _WIN32
// A Windows console has no event a program can start with ignored but
// Ctrl-C, which only its own console sends.
TEST_F(CompressedArchiveTest, HangupIgnoredAtStartStaysIgnored) {
  // As under nohup: the build goes on to the end.
  WriteMembers({{"big.txt", TextData(1500000, 1)}, {"b.txt", TextData(1000, 2)}});
  RunOptions nohup;
  nohup.ignored_signals = {SIGHUP};
  RunningProgram build(QuiverPath(), {"-c", "out", "@list"}, dir_, nohup);
  ASSERT_TRUE(WaitForPath(Path("big.tx$")));
  ::kill(build.pid(), SIGHUP);
  EXPECT_EQ(build.Wait().status, 0);
  EXPECT_EQ(Tree(), (std::vector<std::string>{"b.txt", "big.txt", "list.rsp", "out.qvr"}));
}
#endif

TEST_F(CompressedArchiveTest, MemberRemovedBeforeItsCompressionEndsTheBuild) {
  // A large member of the coder's slowest input keeps the builder busy for a
  // while with as many bytes of members read after it as it reads ahead;
  // the one after those waits its turn.
  constexpr std::int64_t kBig = 1500000;
  constexpr std::int64_t kShort = 30000;
  std::vector<std::pair<std::string, Bytes>> members = {{"big.txt", SortedData(kBig)}};
  std::vector<std::string> tree = {"big.txt"};
  for (std::int64_t i = 1; i <= (kBytesReadAhead - kBig) / kShort + 1; ++i) {
    members.push_back({std::to_string(i) + ".txt", TextData(kShort, i)});
    tree.push_back(members.back().first);
  }
  members.push_back({"b.txt", TextData(1000, 2)});
  WriteMembers(members);
  RunningProgram build(QuiverPath(), {"-c", "out", "@list"}, dir_);
  // The coder is inside the large member once its stream has passed 64 KiB.
  ASSERT_TRUE(WaitForPath(Path("big.tx$"), 64 << 10));
  std::filesystem::remove(Path("b.txt"));
  RunResult run = build.Wait();
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Unable to read b.txt for compression\n"), std::string::npos)
      << run.output;
  tree.push_back("list.rsp");
  std::sort(tree.begin(), tree.end());
  EXPECT_EQ(Tree(), tree);
}

}  // namespace
}  // namespace quiver::test
