// Every archive of the fuzz seed corpus through the real quiverx, one test
// each: the valid ones explode cleanly, the hostile ones are refused with a
// message, without writing outside the working directory, leaving a partial
// file or touching the file at the member's path. Inputs the fuzzers find
// join the corpus, and so these tests.
#include <algorithm>
#include <filesystem>

#include "scratch.h"

namespace fs = std::filesystem;

namespace quiver::test {
namespace {

std::vector<std::string> SeedArchives() {
  std::vector<std::string> names;
  for (const auto& seed : fs::directory_iterator(fs::path(SEED_CORPUS_DIR) / "archive"))
    names.push_back(seed.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

class SeedCorpusTest : public ScratchTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(SeedCorpusTest, IsExtractedOrRefused) {
  const std::string name = GetParam();
  fs::create_directory(Path("work"));
  fs::copy_file(fs::path(SEED_CORPUS_DIR) / "archive" / (name + ".qvr"), Path("work/seed.qvr"));
  Write("work/victim", std::string("original"));
  // Testing writes nothing, and fails exactly the archives refused below.
  const auto before = Tree();
  RunResult test = RunProgram(QuiverxPath(), {"-t", "seed"}, Path("work"));
  EXPECT_EQ(test.status, name.starts_with("valid-") ? 0 : 1) << test.output;
  EXPECT_EQ(Tree(), before);
  RunResult list = RunProgram(QuiverxPath(), {"?seed"}, Path("work"));
  RunResult explode = RunProgram(QuiverxPath(), {"+seed"}, Path("work"));
  RunResult named = RunProgram(QuiverxPath(), {"seed", "victim"}, Path("work"));
  if (name.starts_with("valid-")) {
    EXPECT_EQ(list.status, 0) << list.output;
    EXPECT_EQ(explode.status, 0) << explode.output;
    EXPECT_EQ(named.status, 1) << named.output;
  } else {
    EXPECT_EQ(explode.status, 1) << explode.output;
    EXPECT_EQ(named.status, 1) << named.output;
    // The refusal says why.
    for (const RunResult* run : {&explode, &named}) {
      bool explained = false;
      for (const char* reason : {"Damaged quiver", "unsafe name", "Decompression error for",
                                 "not found in quiver", "read error in quiver"})
        explained = explained || run->output.find(reason) != std::string::npos;
      EXPECT_TRUE(explained) << run->output;
    }
    EXPECT_EQ(Read("work/victim"), Text("original"));
  }
  for (const std::string& path : Tree()) {
    EXPECT_TRUE(path.starts_with("work")) << path;
    std::string file = fs::path(path).filename().string();
    EXPECT_FALSE(file[0] == '.' && file.find(".qvx-") != std::string::npos) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Archives, SeedCorpusTest, ::testing::ValuesIn(SeedArchives()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string id = info.param;
                           std::replace(id.begin(), id.end(), '-', '_');
                           return id;
                         });

}  // namespace
}  // namespace quiver::test
