// Every archive of the fuzz seed corpus through the real quiverx: the valid
// ones explode cleanly, the hostile ones are refused without writing outside
// the working directory or leaving a partial file. Inputs the fuzzers find
// join the corpus, and so this test.
#include <filesystem>

#include "scratch.h"

namespace fs = std::filesystem;

namespace quiver::test {
namespace {

class SeedCorpusTest : public ScratchTest {};

TEST_F(SeedCorpusTest, ArchivesAreExtractedOrRefused) {
  const fs::path seeds = fs::path(SEED_CORPUS_DIR) / "archive";
  int tried = 0;
  for (const auto& seed : fs::directory_iterator(seeds)) {
    SCOPED_TRACE(seed.path().filename().string());
    fs::remove_all(Path("work"));
    fs::create_directory(Path("work"));
    fs::copy_file(seed.path(), Path("work/seed.qvr"));
    Write("work/victim", std::string("original"));
    const std::string name = seed.path().stem().string();
    const bool valid = name.rfind("valid-", 0) == 0;
    RunResult list = RunProgram(QuiverxPath(), {"?seed"}, Path("work"));
    RunResult explode = RunProgram(QuiverxPath(), {"+seed"}, Path("work"));
    RunResult named = RunProgram(QuiverxPath(), {"seed", "victim"}, Path("work"));
    if (valid) {
      EXPECT_EQ(list.status, 0);
      EXPECT_EQ(explode.status, 0) << explode.output;
      EXPECT_EQ(named.status, 1);
    } else {
      EXPECT_EQ(explode.status, 1) << explode.output;
      EXPECT_EQ(named.status, 1) << named.output;
      EXPECT_EQ(Read("work/victim"), Text("original"));
    }
    for (const std::string& path : Tree()) {
      EXPECT_EQ(path.rfind("work", 0), 0u) << path;
      std::string file = fs::path(path).filename().string();
      EXPECT_FALSE(file[0] == '.' && file.find(".qvx-") != std::string::npos) << path;
    }
    ++tried;
  }
  EXPECT_GE(tried, 21);
}

}  // namespace
}  // namespace quiver::test
