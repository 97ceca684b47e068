// Failures caused for real on the real programs: full files, members that
// change under the builder, names the file system refuses, and kills at
// random points. Each must give a clear message, the right status, and cost
// no user file.
#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "scratch.h"

namespace quiver::test {
namespace {

class FaultInjectionTest : public ScratchTest {
 protected:
  // Rewrites a few bytes of a member in place: same length, other content.
  void RewriteInPlace(const std::string& name, long offset) {
    std::fstream file(Path(name), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    ASSERT_TRUE(file.write("CHANGED", 7).flush());
  }

  // A build that failed with `ending` as the last of its transcript and
  // left the old archive, written as "old archive", as it was.
  void ExpectFailedBuild(const RunResult& run, const std::string& ending) {
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.output.ends_with(ending)) << run.output;
    EXPECT_EQ(Read("out.qvr"), Text("old archive"));
  }

  // Waits until the unfinished archive beside out.qvr holds `size` bytes.
  bool WaitForUnfinishedArchive(long size) {
    return WaitUntil([&] {
      for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        std::error_code ignored;
        if (entry.path().filename().string().starts_with(".out.qvr.") &&
            static_cast<long>(entry.file_size(ignored)) >= size)
          return true;
      }
      return false;
    });
  }
};

TEST_F(FaultInjectionTest, MemberRewrittenDuringItsCompressionFailsTheBuild) {
  Write("out.qvr", std::string("old archive"));
  WriteMembers({{"big.txt", SortedData(3000000)}});
  RunningProgram build(QuiverPath(), {"-c", "out", "@list"}, dir_);
  // The coder is inside the member once its stream has passed 64 KiB.
  ASSERT_TRUE(WaitForPath(Path("big.tx$"), 64 << 10));
  RewriteInPlace("big.txt", 2000000);
  ExpectFailedBuild(build.Wait(), "filecount = 1\nbig.txt changed during compression\n");
  EXPECT_EQ(Tree(), (std::vector<std::string>{"big.txt", "list.rsp", "out.qvr"}));
}

TEST_F(FaultInjectionTest, MemberThatGrowsWhileItIsCopiedFailsTheStoredBuild) {
  Write("out.qvr", std::string("old archive"));
  WriteMembers({{"big", Bytes{}}});
  std::filesystem::resize_file(Path("big"), 256 << 20);
  RunningProgram build(QuiverPath(), {"out", "@list"}, dir_);
  ASSERT_TRUE(WaitForUnfinishedArchive(32 << 20));
  {
    std::ofstream grow(Path("big"), std::ios::binary | std::ios::app);
    grow << "more";
  }
  RunResult run = build.Wait();
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(
      run.output.ends_with("Copying file big of 268435456 bytes | 0 to go\n"
                           "big changed during copying\n"))
      << run.output;
  EXPECT_EQ(Read("out.qvr"), Text("old archive"));
  EXPECT_EQ(Tree(), (std::vector<std::string>{"big", "list.rsp", "out.qvr"}));
}

TEST_F(FaultInjectionTest, MemberRewrittenBeforeItIsCopiedFailsTheBuild) {
  Write("out.qvr", std::string("old archive"));
  WriteMembers({{"raw.bin", RandomData(5000, 1)}, {"big.txt", SortedData(1500000)}});
  RunningProgram build(QuiverPath(), {"-s", "out", "@list"}, dir_);
  ASSERT_TRUE(WaitForPath(Path("raw.bi$"), 1));
  RewriteInPlace("raw.bin", 100);
  ExpectFailedBuild(build.Wait(), "toc size = 544\nraw.bin changed during copying\n");
}

TEST_F(FaultInjectionTest, FailingWriteOfAnExtractedMember) {
  if (!FileSizeLimitBinds()) GTEST_SKIP() << "no file size limit binds here";
  WriteMembers({{"stored.bin", RandomData(300000, 1)}});
  ASSERT_EQ(Quiver({"plain", "@list"}).status, 0);
  WriteMembers({{"packed.txt", TextData(3000000, 2)}});
  ASSERT_EQ(Quiver({"-c", "packed", "@list"}).status, 0);
  std::filesystem::create_directory(Path("x"));
  std::filesystem::copy_file(Path("plain.qvr"), Path("x/plain.qvr"));
  std::filesystem::copy_file(Path("packed.qvr"), Path("x/packed.qvr"));
  Write("x/stored.bin", std::string("keep me"));
  RunOptions limited;
  limited.file_size_limit = 100000;
  RunResult stored = RunProgram(QuiverxPath(), {"+plain"}, Path("x"), limited);
  EXPECT_EQ(stored.status, 1);
  EXPECT_NE(stored.output.find("Unable to extract stored.bin - write error.\n"), std::string::npos);
  RunResult packed = RunProgram(QuiverxPath(), {"packed", "packed.txt"}, Path("x"), limited);
  EXPECT_EQ(packed.status, 1);
  EXPECT_NE(packed.output.find("Unable to extract packed.txt - write error.\n"), std::string::npos);
  EXPECT_EQ(Read("x/stored.bin"), Text("keep me"));
  EXPECT_EQ(Tree(), (std::vector<std::string>{"list.rsp", "packed.qvr", "packed.txt", "plain.qvr",
                                              "stored.bin", "x/", "x/packed.qvr", "x/plain.qvr",
                                              "x/stored.bin"}));
}

class ChangedBeforeCopyTest : public FaultInjectionTest,
                              public ::testing::WithParamInterface<std::uintmax_t> {};

TEST_P(ChangedBeforeCopyTest, MemberOfAnotherLengthFailsTheBuild) {
  // Under -s the random member is stored raw, so the copy stage reads it
  // again after the long compression of the member behind it: numbered
  // lines in order, the coder's slowest input.
  Bytes old = Text("old archive");
  Write("out.qvr", old);
  WriteMembers({{"raw.bin", RandomData(5000, 1)}, {"big.txt", SortedData(1500000)}});
  RunningProgram build(QuiverPath(), {"-s", "out", "@list"}, dir_);
  // The small member's stream is written whole once it has been read.
  ASSERT_TRUE(WaitForPath(Path("raw.bi$"), 1));
  std::filesystem::resize_file(Path("raw.bin"), GetParam());
  RunResult run = build.Wait();
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(
      run.output.ends_with("toc size = 544\nLength match error in copying stage - file raw.bin"))
      << run.output;
  EXPECT_EQ(Read("out.qvr"), old);
  EXPECT_EQ(Tree(), (std::vector<std::string>{"big.txt", "list.rsp", "out.qvr", "raw.bin"}));
}

INSTANTIATE_TEST_SUITE_P(GrownAndShrunk, ChangedBeforeCopyTest, ::testing::Values(6000, 4000));

TEST_F(FaultInjectionTest, MemberRemovedBeforeItIsCopied) {
  WriteMembers({{"raw.bin", RandomData(5000, 1)}, {"big.txt", SortedData(1500000)}});
  RunningProgram build(QuiverPath(), {"-s", "out", "@list"}, dir_);
  ASSERT_TRUE(WaitForPath(Path("raw.bi$"), 1));
  std::filesystem::remove(Path("raw.bin"));
  RunResult run = build.Wait();
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.output.ends_with("toc size = 544\nUnable to open raw.bin\n")) << run.output;
  EXPECT_EQ(Tree(), (std::vector<std::string>{"big.txt", "list.rsp"}));
}

TEST_F(FaultInjectionTest, TemporaryFileTheFileSystemRefuses) {
  // A 255-byte name is the longest a directory entry holds; its temporary
  // name is two bytes longer.
  std::string name(255, 'm');
  WriteMembers({{"first.txt", TextData(100, 1)}, {name, TextData(100, 2)}});
  RunResult run = Quiver({"-c", "out", "@list"});
  EXPECT_EQ(run.status, 255);
  // The member before it is reported first, though both compress at once.
  std::size_t logged = run.output.find("first.txt logged - ");
  std::string failure =
      "Fatal error: BitFile::BitFile unable to open temporary file " + name + ".$.";
  EXPECT_NE(logged, std::string::npos) << run.output;
  EXPECT_TRUE(run.output.ends_with(failure)) << run.output;
  EXPECT_EQ(Tree(), (std::vector<std::string>{"first.txt", "list.rsp", name}));
}

#ifdef _WIN32
// Windows' own way to keep a file from a program: hold it open sharing
// nothing.
TEST_F(FaultInjectionTest, MemberOpenElsewhereWithoutSharingFailsTheBuild) {
  Write("out.qvr", std::string("old archive"));
  WriteMembers({{"secret", TextData(100, 1)}});
  const std::filesystem::path secret = Path("secret");
  HANDLE held = CreateFileW(secret.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  RunResult run = Quiver({"out", "@list"});
  CloseHandle(held);
  ExpectFailedBuild(run, "filecount = 1\nUnable to open secret\n");
}

TEST_F(FaultInjectionTest, TemporaryFileHeldElsewhereIsNamedAndFailsTheBuild) {
  // Another program opens a temporary file, sharing no deletion. The
  // builder's own handle has delete access, which only an opener that
  // shares deletion may join, so the moment to take it is between the
  // builder's close and its deletion at the end; a build whose moment the
  // test missed is a good one, and it tries again.
  WriteMembers({{"a.txt", TextData(1000, 1)}, {"big.txt", SortedData(1500000)}});
  const std::filesystem::path temporary = Path("a.tx$");
  for (int attempt = 0; attempt < 10; ++attempt) {
    Write("out.qvr", std::string("old archive"));
    RunningProgram build(QuiverPath(), {"-c", "out", "@list"}, dir_);
    HANDLE held = INVALID_HANDLE_VALUE;
    bool seen_held = false;
    WaitUntil(
        [&] {
          held = CreateFileW(temporary.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
          if (held != INVALID_HANDLE_VALUE) return true;
          const DWORD error = GetLastError();
          seen_held = seen_held || error == ERROR_SHARING_VIOLATION;
          return seen_held && error == ERROR_FILE_NOT_FOUND;
        },
        kSlowStartSeconds);
    RunResult run = build.Wait();
    if (held == INVALID_HANDLE_VALUE) {
      EXPECT_EQ(run.status, 0) << run.output;
      continue;
    }
    CloseHandle(held);
    ExpectFailedBuild(run, "Unable to delete temporary file a.tx$\n");
    EXPECT_EQ(Tree(),
              (std::vector<std::string>{"a.tx$", "a.txt", "big.txt", "list.rsp", "out.qvr"}));
    return;
  }
  FAIL() << "the temporary file was never free between the builder's close and its deletion";
}
#else
// Windows has no user without rights to a file that the tests can become,
// and no read-only directory that refuses new files.
class UnprivilegedTest : public FaultInjectionTest {
 protected:
  void SetUp() override {
    FaultInjectionTest::SetUp();
    std::filesystem::permissions(dir_, std::filesystem::perms::all);
    nobody_.unprivileged = true;
  }
  void MakeReadOnly(const std::string& directory) {
    std::filesystem::permissions(Path(directory), std::filesystem::perms::owner_read |
                                                      std::filesystem::perms::owner_exec |
                                                      std::filesystem::perms::others_read |
                                                      std::filesystem::perms::others_exec);
  }
  RunOptions nobody_;
};

TEST_F(UnprivilegedTest, UnreadableMemberFailsTheBuild) {
  Write("out.qvr", std::string("old archive"));
  WriteMembers({{"secret", TextData(100, 1)}});
  std::filesystem::permissions(Path("secret"), std::filesystem::perms::none);
  RunResult run = Quiver({"out", "@list"}, nobody_);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.output.ends_with("filecount = 1\nUnable to open secret\n")) << run.output;
  EXPECT_EQ(Read("out.qvr"), Text("old archive"));
}

TEST_F(UnprivilegedTest, ReadOnlyTreeIsCompressedWithTemporariesBesideTheArchive) {
  const Members members = {{"ro\\m.txt", TextData(3000, 2)}, {"ro\\n.txt", TextData(2000, 3)}};
  BuildArchive(members, "-c");
  const Bytes expected = Read("out.qvr");
  std::filesystem::remove(Path("out.qvr"));
  Write("m.tx$", std::string("not the builder's"));
  MakeReadOnly("ro");
  for (const char* option : {"-c", "-s"}) {
    RunResult run = Quiver({option, "out", "@list"}, nobody_);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("ro\\m.txt logged - "), std::string::npos) << run.output;
    EXPECT_EQ(Read("out.qvr"), expected) << option;
    EXPECT_EQ(Read("m.tx$"), Text("not the builder's"));
    EXPECT_EQ(Tree(), (std::vector<std::string>{"list.rsp", "m.tx$", "out.qvr", "ro/", "ro/m.txt",
                                                "ro/n.txt"}));
  }
}
#endif

TEST_F(FaultInjectionTest, RunningOutOfMemoryWhileCompressingNeverAborts) {
  if (!MemoryLimitBinds()) GTEST_SKIP() << "no memory limit binds here";
  // From limits that leave no room for a second thread to ones that leave
  // the block coder short: each build succeeds, perhaps on fewer threads, or
  // says "Out of memory" and leaves nothing of its own behind.
  Write("out.qvr", std::string("old archive"));
  WriteMembers({{"big.txt", TextData(3000000, 1)}, {"b.txt", TextData(1000, 2)}});
  for (long mib = 8; mib <= 40; mib += 2) {
    SCOPED_TRACE(std::to_string(mib) + " MiB");
    RunOptions limited;
    limited.address_space_limit = mib << 20;
    RunResult run = Quiver({"-c", "out", "@list"}, limited);
    if (run.status == 0) {
      EXPECT_TRUE(run.output.ends_with("Closed quiver out.qvr\n")) << run.output;
      std::filesystem::remove(Path("out.qvr"));
      Write("out.qvr", std::string("old archive"));
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_TRUE(run.output.ends_with("Out of memory\n")) << run.output;
      EXPECT_EQ(Read("out.qvr"), Text("old archive"));
    }
    EXPECT_EQ(Tree(), (std::vector<std::string>{"b.txt", "big.txt", "list.rsp", "out.qvr"}));
  }
}

// quiver run under strace, which sends SIGINT as `syscall` is entered: a
// signal at that point of the commit, every time. The leak checker of a
// sanitizer build cannot run under a tracer.
RunResult QuiverInterruptedAt(const std::string& directory, const std::string& syscalls) {
  return RunProgram("/usr/bin/strace",
                    {"-f", "-qq", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-e",
                     "trace=" + syscalls, "-e", "inject=" + syscalls + ":signal=SIGINT",
                     QuiverPath(), "out", "@list"},
                    directory);
}

TEST_F(FaultInjectionTest, SignalDuringTheRenameLetsTheCommittedBuildFinish) {
  if (!SystemProgramExists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
  Write("out.qvr", std::string("old archive"));
  WriteMembers({{"m", Text("member")}});
  RunResult run = QuiverInterruptedAt(dir_, "rename,renameat,renameat2");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(run.output.ends_with("Closed .rsp file list.rsp\nClosed quiver out.qvr\n"))
      << run.output;
  EXPECT_EQ(Read("out.qvr"), StoredBuild({{"m", Text("member")}}));
  EXPECT_EQ(Tree(), (std::vector<std::string>{"list.rsp", "m", "out.qvr"}));
}

TEST_F(FaultInjectionTest, SignalJustBeforeTheRenameCancelsTheCommit) {
  if (!SystemProgramExists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
  Write("out.qvr", std::string("old archive"));
  WriteMembers({{"m", Text("member")}});
  // The commit asks for waiting signals with the signals held off.
  RunResult run = QuiverInterruptedAt(dir_, "rt_sigpending");
  EXPECT_EQ(run.status, 128 + SIGINT) << run.output;
  EXPECT_TRUE(run.output.ends_with("Closed .rsp file list.rsp\n")) << run.output;
  EXPECT_EQ(Read("out.qvr"), Text("old archive"));
  EXPECT_EQ(Tree(), (std::vector<std::string>{"list.rsp", "m", "out.qvr"}));
}

TEST_F(FaultInjectionTest, KillAtRandomPointsLeavesTheOldOrTheNewArchive) {
  WriteMembers({{"a.txt", TextData(2000000, 1)},
                {"b.bin", RandomData(1500000, 2)},
                {"c.txt", TextData(900000, 3)}});
  ASSERT_EQ(Quiver({"-c", "new", "@list"}).status, 0);
  const Bytes fresh = Read("new.qvr");
  const Bytes old = Text("the old archive");
  std::mt19937 random(42);
  for (int round = 0; round < 12; ++round) {
    Write("out.qvr", old);
    const bool stopped = round % 2 == 1;
    RunningProgram build(QuiverPath(), {"-c", "out", "@list"}, dir_);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500000));
    stopped ? build.Stop() : build.Kill();
    RunResult run = build.Wait();
    Bytes now = Read("out.qvr");
    EXPECT_TRUE(now == old || now == fresh) << "round " << round;
    if (run.status == kStoppedStatus) {
      EXPECT_EQ(now, old);
    }
    EXPECT_EQ(Read("a.txt"), TextData(2000000, 1));
    EXPECT_EQ(Read("b.bin"), RandomData(1500000, 2));
    EXPECT_EQ(Read("c.txt"), TextData(900000, 3));
    if (stopped) {
      // Nothing of an interrupted run is left.
      for (const std::string& path : Tree()) {
        EXPECT_EQ(path.find('$'), std::string::npos) << path;
        EXPECT_EQ(path.find("out.qvr."), std::string::npos) << path;
      }
    }
    for (const std::string& path : Tree())
      if (path.find('$') != std::string::npos || path.find("out.qvr.") != std::string::npos)
        std::filesystem::remove(Path(path));
  }
}

}  // namespace
}  // namespace quiver::test
