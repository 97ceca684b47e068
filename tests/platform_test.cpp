// Platform calls whose promise no program run can show on its own.
#include "platform.h"

#include "scratch.h"

namespace quiver::test {
namespace {

class PlatformTest : public ScratchTest {};

TEST_F(PlatformTest, RenameWithoutReplacingLeavesAnExistingNameAlone) {
  Write("from", std::string("new"));
  Write("taken", std::string("someone's"));
  bool through_link = false;
  ASSERT_TRUE(ChangeDirectory(dir_.c_str()));
  const FileHandle directory = OpenDirectoryNoFollow("", through_link);
  ASSERT_NE(directory, kNoFile);
  EXPECT_EQ(RenameNoReplaceIn(directory, "from", "taken"), CreateResult::kNameTaken);
  EXPECT_EQ(Read("taken"), Text("someone's"));
  EXPECT_EQ(Read("from"), Text("new"));
  EXPECT_EQ(RenameNoReplaceIn(directory, "from", "free"), CreateResult::kCreated);
  EXPECT_EQ(Read("free"), Text("new"));
  EXPECT_FALSE(Exists("from"));
  CloseFile(directory);
}

}  // namespace
}  // namespace quiver::test
