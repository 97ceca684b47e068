// quiverx on several threads: members are written side by side but put in
// place and reported in order, so every run gives the transcript, the
// status and the tree of the same run on one thread, failures included.
#include <cstdio>
#include <filesystem>

#include "scratch.h"

namespace fs = std::filesystem;

namespace quiver::test {
namespace {

// Ten 'a's, a literal and a match.
const Bytes kTenA = {0xB0, 0x80, 0x05, 0xC0, 0x00};

class SideBySideTest : public ScratchTest {
 protected:
  // quiverx with `args` in a fresh directory holding `archive` as a.qvr:
  // its run and the tree it leaves.
  std::pair<RunResult, std::vector<std::string>> RunIn(const std::string& directory,
                                                       const Bytes& archive,
                                                       const std::vector<std::string>& args) {
    fs::remove_all(Path(directory));
    Write(directory + "/a.qvr", archive);
    RunResult run = RunProgram(QuiverxPath(), args, Path(directory));
    std::vector<std::string> tree;
    for (const std::string& path : Tree())
      if (path.starts_with(directory + "/")) tree.push_back(path.substr(directory.size() + 1));
    return {run, tree};
  }

  // The same run on one thread and on four gives the same result.
  std::pair<RunResult, std::vector<std::string>> ExpectSameOnFourThreads(
      const Bytes& archive, const std::vector<std::string>& args) {
    std::vector<std::string> one = {"-j", "1"};
    std::vector<std::string> four = {"-j", "4"};
    one.insert(one.end(), args.begin(), args.end());
    four.insert(four.end(), args.begin(), args.end());
    const auto single = RunIn("one", archive, one);
    const auto several = RunIn("four", archive, four);
    EXPECT_EQ(several.first.status, single.first.status) << args[0];
    EXPECT_EQ(several.first.output, single.first.output) << args[0];
    EXPECT_EQ(several.second, single.second) << args[0];
    for (const std::string& path : several.second) EXPECT_EQ(path.find(".qvx-"), std::string::npos);
    return several;
  }
};

TEST_F(SideBySideTest, EveryModeGivesTheRunOfOneThread) {
  Members members;
  for (int i = 0; i < 60; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "d%d\\s%d\\m%d.bin", i % 7, i % 3, i);
    members.push_back({name, i % 2 ? TextData(100 + 997 * i, i) : RandomData(50 + 31 * i, i)});
  }
  members.push_back({"big.txt", TextData(3 << 20, 99)});
  for (const std::string option : {"", "-c"}) {
    BuildArchive(members, option, "src");
    const Bytes archive = Read("src/out.qvr");
    const auto explode = ExpectSameOnFourThreads(archive, {"+a"});
    EXPECT_EQ(explode.first.status, 0) << explode.first.output;
    ExpectSameOnFourThreads(archive,
                            {"a", members[5].first, members[60].first, "absent", members[7].first});
    ExpectSameOnFourThreads(archive, {"-t", "a"});
    ExpectSameOnFourThreads(archive, {"-n", "+a"});
  }
}

TEST_F(SideBySideTest, NothingOfTheMembersAfterAFailedOneIsLeft) {
  std::vector<ImageRecord> records;
  for (int i = 0; i < 20; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "dir%d/m%d", i % 4, i);
    records.push_back({name, 10, kAfterTable, 5, kTenA});
  }
  // A stream one byte short, a name that would leave the directory, and a
  // member whose directory exists as a file.
  std::vector<ImageRecord> damaged = records, unsafe = records, blocked = records;
  damaged[10].compressed_length = 4;
  damaged[10].data.pop_back();
  unsafe[10].name = "../m10";
  blocked.insert(blocked.begin() + 10, {"late/file", 10, kAfterTable, 5, kTenA});
  blocked.insert(blocked.begin() + 11, {"late/file/m", 10, kAfterTable, 5, kTenA});
  for (const auto& table : {damaged, unsafe, blocked}) {
    const auto run = ExpectSameOnFourThreads(ArchiveImage(table, 1), {"+a"});
    EXPECT_EQ(run.first.status, 1) << run.first.output;
    for (const std::string& path : run.second) {
      const std::size_t m = path.rfind("/m");
      EXPECT_TRUE(m == std::string::npos || std::stoi(path.substr(m + 2)) <= 10) << path;
    }
  }
}

// A low limit on open files slows an explode of many directories (fewer
// kept open, fewer members waiting) but never fails it.
TEST_F(SideBySideTest, AFewOpenFilesAreEnoughForAnyTree) {
  std::vector<ImageRecord> records;
  for (int i = 0; i < 80; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "d%d/s%d/m%d", i, i, i);
    records.push_back({name, 10, kAfterTable, 5, kTenA});
  }
  RunOptions options;
  options.open_file_limit = 40;
  for (const std::string threads : {"1", "4"}) {
    const std::string directory = "limited" + threads;
    fs::remove_all(Path(directory));
    Write(directory + "/a.qvr", ArchiveImage(records, 1));
    const RunResult run =
        RunProgram(QuiverxPath(), {"-q", "-j", threads, "+a"}, Path(directory), options);
    EXPECT_EQ(run.status, 0) << threads << " threads: " << run.output;
    EXPECT_EQ(Read(directory + "/d79/s79/m79").size(), 10u);
  }
}

}  // namespace
}  // namespace quiver::test
