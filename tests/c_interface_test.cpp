// The C interface as a C99 program uses it, on archives the real quiver
// builds: every call and every status it can give.
#include "scratch.h"

namespace quiver::test {
namespace {

class CInterfaceTest : public ScratchTest {};

TEST_F(CInterfaceTest, EveryCallFromC) {
  BuildArchive({{"maps\\level1.map", Text("base level one")}, {"readme.txt", Text("base readme")}},
               "", "base");
  std::string patched;
  for (int i = 0; i < 8; ++i) patched += "patched level one ";
  BuildArchive({{"maps/level1.map", Text(patched)}}, "-c", "patch");
  Write("dir/readme.txt", std::string("loose readme"));
  Write("outside.txt", std::string("not below the directory"));
  RunResult run =
      RunProgram(C_READER, {Path("base/out.qvr"), Path("patch/out.qvr"), Path("dir")}, dir_);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
            "version 1.x\n"
            "open_file: 0 success\n"
            "members: 2\n"
            "find exact: 0 success\n"
            "find wrong case: 3 no member or mount has that name\n"
            "find_loose: 0 success\n"
            "member_at: 0 success\n"
            "maps\\level1.map 14 14 0\n"
            "read short buffer: 5 an argument is null or out of range\n"
            "member_at past the end: 5 an argument is null or out of range\n"
            "view of a file-opened archive: 5 an argument is null or out of range\n"
            "open_mapped: 0 success\n"
            "view: 0 success\n"
            "viewed 14 bytes\n"
            "open_file missing: 1 the file could not be opened\n"
            "open_memory garbage: 2 the archive is damaged or could not be read\n"
            "open_file null path: 5 an argument is null or out of range\n"
            "open_mapped compressed: 0 success\n"
            "view compressed: 7 the member is stored compressed\n"
            "open_memory damaged stream: 0 success\n"
            "read damaged stream: 4 a compressed member's stream is damaged\n"
            "mounts_create: 0 success\n"
            "mount base: 0 success\n"
            "mount patch: 0 success\n"
            "mount missing directory: 1 the file could not be opened\n"
            // The patch mounted after the base overrides it.
            "maps/level1.map: 144 bytes \"patched leve\"\n"
            "readme.txt: 11 bytes \"base readme\"\n"
            "mount directory: 0 success\n"
            // The directory has no MAPS/LEVEL1.MAP, the patch has it loosely.
            "MAPS\\LEVEL1.MAP: 144 bytes \"patched leve\"\n"
            "maps/level1.map: 144 bytes \"patched leve\"\n"
            "readme.txt: 12 bytes \"loose readme\"\n"
            "../outside.txt: 3 no member or mount has that name\n"
            "nowhere.txt: 3 no member or mount has that name\n"
            "mounts_size null name: 5 an argument is null or out of range\n"
            // Listings, Stat and streams; an archive read through callbacks
            // that fail for a while, which the library closes once.
            "  maps/ @0\n"
            "  readme.txt 11 @0\n"
            "list: 0 success\n"
            "  maps/ @0\n"
            "walk stopped after one: 0 success\n"
            "list a file: 8 the name is not a directory\n"
            "stat MAPS: directory 0 index none\n"
            "stat maps/level1.map: file 14 index a member\n"
            "stat maps/none: 3 no member or mount has that name\n"
            "open_stream past the end: 5 an argument is null or out of range\n"
            "streamed 14 of 14 bytes: \"base level o\"\n"
            "seek 4 before the end: 0 success\n"
            "at 10: 4 bytes \" one\"\n"
            "seek past the end: 0 success\n"
            "read there: 0 success\n"
            "0 bytes\n"
            "seek before the start: 5 an argument is null or out of range\n"
            "seek from nowhere: 5 an argument is null or out of range\n"
            "still at 1014\n"
            "read_at 2: 0 success\n"
            "got \"se \"\n"
            "open_source: 0 success\n"
            "open_stream: 0 success\n"
            "read of a failing source: 2 the archive is damaged or could not be read\n"
            "read once it works: 0 success\n"
            "144 bytes \"patched leve\"\n"
            "mount_opened: 0 success\n"
            "closed 0 times while mounted\n"
            "open_source failing: 2 the archive is damaged or could not be read\n"
            "closed 1 times\n"
            "  maps/ @2\n"
            "  maps/level1.map 144c @2\n"
            "  readme.txt 12 @1\n"
            "mounts_walk: 0 success\n"
            "mounts_stat readme.txt: file 12 index none\n"
            "mounts_open_stream of a directory: 9 the name is a directory\n"
            "mounts_open_stream: 0 success\n"
            "streamed 144 of 144 bytes: \"patched leve\"\n"
            "seek 4 before the end: 0 success\n"
            "at 140: 4 bytes \"one \"\n"
            "seek past the end: 0 success\n"
            "read there: 0 success\n"
            "0 bytes\n"
            "seek before the start: 5 an argument is null or out of range\n"
            "seek from nowhere: 5 an argument is null or out of range\n"
            "still at 1144\n"
            "read_at 2: 0 success\n"
            "got \"tch\"\n"
            "closed 2 times\n");
}

TEST_F(CInterfaceTest, RunningOutOfMemoryIsAStatus) {
  if (!MemoryLimitBinds()) GTEST_SKIP() << "no memory limit binds here";
  RunOptions little_memory;
  little_memory.address_space_limit = 96 << 20;
  RunResult run = RunProgram(C_READER, {"--out-of-memory"}, dir_, little_memory);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "open_memory without room: 6 out of memory\n");
}

}  // namespace
}  // namespace quiver::test
