#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "name_crc.h"
#include "response_file.h"
#include "temp_path.h"
#include "standard_output.h"
#include "toc_table.h"
#include "totals.h"

namespace quiver {
namespace {

std::vector<std::string> Members(std::string_view file_bytes) {
  std::vector<std::string> members;
  ForEachMember(ResponseText(file_bytes), [&](std::string_view token) {
    members.emplace_back(token);
    return true;
  });
  return members;
}

TEST(ResponseFileTest, CommentsRunToTheEndOfTheirLine) {
  EXPECT_EQ(Members("a.txt #first word\n#b.txt\nc#d.txt e.txt\n"),
            (std::vector<std::string>{"a.txt", "c#d.txt", "e.txt"}));
  EXPECT_EQ(Members("#only\n  \t# comments\r\n"), std::vector<std::string>{});
  // A comment at the end of a file without a final newline ends the list.
  EXPECT_EQ(Members("a\n# last"), std::vector<std::string>{"a"});
  // A comment token that ends its line skips only that newline.
  EXPECT_EQ(Members("#x\nb\n"), std::vector<std::string>{"b"});
}

TEST(ResponseFileTest, WhiteSpaceAndEndOfText) {
  EXPECT_EQ(Members("a\r\nb\tc\vd\fe f"), (std::vector<std::string>{"a", "b", "c", "d", "e", "f"}));
  EXPECT_EQ(Members("a b\x1A"
                    "c d"),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Members("a\\b\\c.dat x/y"), (std::vector<std::string>{"a\\b\\c.dat", "x/y"}));
}

TEST(TempPathTest, DollarTakesTheExtensionsLastPlace) {
  EXPECT_EQ(MakeTempPath("art\\rock.bmp"), "art\\rock.bm$");
  EXPECT_EQ(MakeTempPath("data\\photo.jpeg"), "data\\photo.jpe$");
  EXPECT_EQ(MakeTempPath("main.c"), "main.c$");
  EXPECT_EQ(MakeTempPath("notes.txt"), "notes.tx$");
  EXPECT_EQ(MakeTempPath("a.b.txt"), "a.b.tx$");
  EXPECT_EQ(MakeTempPath("makefile"), "makefile.$");
  EXPECT_EQ(MakeTempPath("old.d\\readme"), "old.d\\readme.$");
  EXPECT_EQ(MakeTempPath("old.d/readme"), "old.d/readme.$");
  EXPECT_EQ(MakeTempPath("c:x.txt"), "c:x.tx$");
  EXPECT_EQ(MakeTempPath("dir\\.hidden"), "dir\\.hidde$");
}

TocEntry Entry(const char* name) {
  TocEntry entry;
  std::strcpy(entry.name, name);
  entry.crc = NameCrc(name);
  return entry;
}

TEST(CollisionTest, RunsAreOrderedByNameWithoutCase) {
  EXPECT_LT(CompareNames(Entry("ab"), Entry("abc")), 0);
  EXPECT_EQ(CompareNames(Entry("ABC"), Entry("abc")), 0);
  EXPECT_GT(CompareNames(Entry("b"), Entry("A")), 0);
  EXPECT_LT(CompareNames(Entry("a"), Entry("\xE0")), 0);
  // Force one key on all three so they form a single run.
  TocEntry toc[] = {Entry("zeta"), Entry("Alpha"), Entry("mid")};
  for (TocEntry& e : toc) e.crc = 7;
  testing::internal::CaptureStdout();
  CheckCollisions(toc, 3);
  EXPECT_FALSE(StandardOutputFailed());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "CRC collision - zeta and Alpha - CRC = 7.\n"
            "CRC collision - zeta and mid - CRC = 7.\n");
  EXPECT_STREQ(toc[0].name, "Alpha");
  EXPECT_STREQ(toc[1].name, "mid");
  EXPECT_STREQ(toc[2].name, "zeta");
}

TEST(RatioTest, SixtyFourBitArithmetic) {
  EXPECT_EQ(CompressionRatio(3, 1), -200);
  EXPECT_EQ(CompressionRatio(995, 1000), 1);
  EXPECT_EQ(CompressionRatio(1000, 1000), 0);
  EXPECT_EQ(CompressionRatio(0, 0), 0);
  // Past 42,949,673 bytes a 32-bit product would wrap.
  EXPECT_EQ(CompressionRatio(1500000000, 2000000000), 25);
}

}  // namespace
}  // namespace quiver
