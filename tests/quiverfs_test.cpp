// quiverfs mounted for real, read with the system's own tools. Every test
// unmounts in its teardown, so a failure leaves no mount behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "quiver/reader.h"
#include "scratch.h"

namespace quiver::test {
namespace {

namespace fs = std::filesystem;

class QuiverfsTest : public ScratchTest {
 protected:
  void SetUp() override {
    if (!fs::exists("/dev/fuse") || !SystemProgramExists("/usr/bin/fusermount3"))
      GTEST_SKIP() << "no FUSE device or fusermount3 here: nothing to mount";
    ScratchTest::SetUp();
    fs::create_directory(Path("m"));
  }

  void TearDown() override {
    if (daemon_) {
      if (Mounted()) Shell("fusermount3 -u -z m");
      daemon_->Kill();
      daemon_.reset();
    }
    if (!dir_.empty()) ScratchTest::TearDown();
  }

  // A command run in the scratch directory, its standard error with its output.
  RunResult Shell(const std::string& command) const {
    return RunProgram("/bin/bash", {"-c", command + " 2>&1"}, dir_);
  }

  RunResult Quiverfs(const std::vector<std::string>& args) const {
    std::vector<std::string> all = {"-c", "exec \"$0\" \"$@\" 2>&1", QUIVERFS_BIN};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram("/bin/sh", all, dir_);
  }

  bool Mounted() const {
    struct stat top, point;
    return ::stat(dir_.c_str(), &top) == 0 && ::stat(Path("m").c_str(), &point) == 0 &&
           top.st_dev != point.st_dev;
  }

  // quiverfs -f over `sources` at m/, until Unmount or the teardown.
  void Mount(const std::vector<std::string>& sources) {
    std::vector<std::string> args = {"-c", "exec \"$0\" \"$@\" 2>&1", QUIVERFS_BIN, "-f"};
    args.insert(args.end(), sources.begin(), sources.end());
    args.push_back("m");
    daemon_ = std::make_unique<RunningProgram>("/bin/sh", args, dir_);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Mounted() && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (Mounted()) return;
    daemon_->Kill();
    const RunResult ended = daemon_->Wait();
    daemon_.reset();
    FAIL() << "quiverfs did not mount: " << ended.output;
  }

  // Unmounts as a user would; the daemon must then end, cleanly.
  RunResult Unmount() {
    EXPECT_EQ(Shell("fusermount3 -u m").status, 0);
    RunResult result = daemon_->Wait();
    daemon_.reset();
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_FALSE(Mounted());
    return result;
  }

  // The example assets packed with -s: compressed and stored members.
  void BuildExample() const {
    ASSERT_EQ(RunProgram(QuiverPath(), {"-s", Path("assets"), "@assets"}, EXAMPLES_DIR).status, 0);
  }

  std::unique_ptr<RunningProgram> daemon_;
};

TEST_F(QuiverfsTest, CommandLine) {
  ExpectTranscript(Quiverfs({"--version"}), 0, "quiverfs 1.2.0\n");
  EXPECT_EQ(Quiverfs({"--help"}).status, 0);
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"m"}, {"-x", "a", "m"}})
    EXPECT_EQ(Quiverfs(args).status, 2);
  ExpectTranscript(Quiverfs({"missing.qvr", "m"}), 1, "quiverfs: cannot open missing.qvr\n");
}

TEST_F(QuiverfsTest, ExampleMountsAsItExplodes) {
  BuildExample();
  fs::create_directory(Path("x"));
  ASSERT_EQ(RunProgram(QuiverxPath(), {"-q", "+../assets"}, Path("x")).status, 0);
  Mount({"assets.qvr"});
  ExpectTranscript(Shell("diff -r m x"), 0, "");
  ExpectTranscript(Shell(std::string("diff -r m/assets ") + EXAMPLES_DIR + "/assets"), 0, "");
  // Read-only modes, and the archive's time on every entry.
  struct stat archive, file, directory;
  ASSERT_EQ(::stat(Path("assets.qvr").c_str(), &archive), 0);
  ASSERT_EQ(::stat(Path("m/assets/maps/level1.map").c_str(), &file), 0);
  ASSERT_EQ(::stat(Path("m/assets/maps").c_str(), &directory), 0);
  EXPECT_EQ(file.st_mode, S_IFREG | 0444u);
  EXPECT_EQ(directory.st_mode, S_IFDIR | 0555u);
  EXPECT_EQ(file.st_size, 240);
  for (const struct stat* entry : {&file, &directory}) {
    EXPECT_EQ(entry->st_mtim.tv_sec, archive.st_mtim.tv_sec);
    EXPECT_EQ(entry->st_mtim.tv_nsec, archive.st_mtim.tv_nsec);
  }
  Unmount();
}

TEST_F(QuiverfsTest, LaterSourcesOverrideAndUnsafeNamesAreHidden) {
  Write("base.qvr", StoredBuild({{"a.txt", Text("base")}, {"dir\\b.txt", Text("b")}}));
  Write("patch.qvr",
        ArchiveImage({Stored("A.TXT", "patch"), Stored("..\\evil", "x"), Stored("c:\\drive", "x"),
                      Stored("bell\a", "x"), Stored("dir\\\\empty", "x"), Stored("ok.txt", "ok")}));
  Write("mod/dir/c.txt", std::string("mod"));
  Mount({"base.qvr", "patch.qvr", "mod"});
  ExpectTranscript(Shell("ls -A m m/dir && cat m/a.txt m/A.TXT m/dir/c.txt"), 0,
                   "m:\nA.TXT\ndir\nok.txt\n\nm/dir:\nb.txt\nc.txt\npatchpatchmod");
  for (const char* hidden : {"m/c:", "m/c:/drive", "m/bell\a", "m/dir/empty"})
    EXPECT_FALSE(fs::exists(Path(hidden))) << hidden;
  EXPECT_EQ(Unmount().output,
            "quiverfs: patch.qvr: ..\\evil not shown (parent directory)\n"
            "quiverfs: patch.qvr: c:\\drive not shown (drive prefix)\n"
            "quiverfs: patch.qvr: bell? not shown (control character)\n"
            "quiverfs: patch.qvr: dir\\\\empty not shown (empty or \".\" component)\n");
}

TEST_F(QuiverfsTest, CompressedMemberReadsAtAnyOffsetFromManyProcesses) {
  const Bytes text = TextData(3 << 20, 7);
  BuildArchive({{"big.txt", text}, {"small.bin", RandomData(70000, 8)}}, "-c", "src");
  Mount({"src/out.qvr"});
  // Odd-sized reads from the start, and from odd places on, past checkpoints.
  ExpectTranscript(Shell("dd if=m/big.txt bs=4093 status=none | cmp - src/big.txt"), 0, "");
  for (const char* skip : {"2999", "17", "1500"}) {
    const std::string dd = std::string("dd if=m/big.txt bs=1009 skip=") + skip + " status=none";
    const std::string tail = std::string("tail -c +$((1009 * ") + skip + " + 1)) src/big.txt";
    ExpectTranscript(Shell(dd + " | cmp - <(" + tail + ")"), 0, "");
  }
  std::vector<std::unique_ptr<RunningProgram>> readers;
  for (int i = 0; i < 8; ++i) {
    const std::string name = i % 2 ? "big.txt" : "small.bin";
    readers.push_back(std::make_unique<RunningProgram>(
        "/usr/bin/cmp", std::vector<std::string>{"m/" + name, "src/" + name}, dir_));
  }
  for (auto& reader : readers) EXPECT_EQ(reader->Wait().status, 0);
  Unmount();
}

TEST_F(QuiverfsTest, EveryWriteFailsWithErofs) {
  BuildExample();
  Mount({"assets.qvr"});
  const std::string file = Path("m/assets/readme.txt");
  const std::string directory = Path("m/assets/maps");
  const std::vector<std::pair<const char*, std::function<int()>>> writes = {
      {"write", [&] { return ::open(file.c_str(), O_WRONLY); }},
      {"create", [&] { return ::open(Path("m/new").c_str(), O_WRONLY | O_CREAT, 0644); }},
      {"touch", [&] { return ::utimensat(AT_FDCWD, file.c_str(), nullptr, 0); }},
      {"mkdir", [&] { return ::mkdir(Path("m/new").c_str(), 0755); }},
      {"rm", [&] { return ::unlink(file.c_str()); }},
      {"rmdir", [&] { return ::rmdir(directory.c_str()); }},
      {"rename", [&] { return ::rename(file.c_str(), Path("m/assets/r").c_str()); }},
      {"truncate", [&] { return ::truncate(file.c_str(), 0); }},
      {"chmod", [&] { return ::chmod(file.c_str(), 0644); }},
  };
  for (const auto& [what, write] : writes) {
    errno = 0;
    EXPECT_EQ(write(), -1) << what;
    EXPECT_EQ(errno, EROFS) << what;
  }
  Unmount();
}

TEST_F(QuiverfsTest, DamagedArchiveIsRefusedAtMount) {
  Write("bad.qvr", ArchiveImage({{"far", 10, 1 << 20, 0, {}}}));
  Archive archive;
  const Status opened = archive.OpenFile(Path("bad.qvr"));
  ASSERT_FALSE(opened);
  ExpectTranscript(Quiverfs({"-f", "bad.qvr", "m"}), 1,
                   "quiverfs: bad.qvr: " + opened.message() + "\n");
  EXPECT_FALSE(Mounted());
}

TEST_F(QuiverfsTest, DamagedMemberGivesEioAndTheDaemonGoesOn) {
  // A compressed stream of literals that ends long before its 5000 bytes.
  Write("bad.qvr",
        ArchiveImage(
            {{"bad.bin", 5000, kAfterTable, 1000, Bytes(1000, 0xFF)}, Stored("good.txt", "good")}, 1));
  Mount({"bad.qvr"});
  const int file = ::open(Path("m/bad.bin").c_str(), O_RDONLY);
  ASSERT_GE(file, 0);
  char buffer[4096];
  errno = 0;
  EXPECT_EQ(::read(file, buffer, sizeof buffer), -1);
  EXPECT_EQ(errno, EIO);
  ::close(file);
  ExpectTranscript(Shell("cat m/good.txt"), 0, "good");
  Unmount();
}

TEST_F(QuiverfsTest, BackgroundDaemonEndsWithItsMount) {
  BuildExample();
  ExpectTranscript(Quiverfs({"assets.qvr", "m"}), 0, "");
  EXPECT_TRUE(Mounted());
  ExpectTranscript(Shell("ls m/assets/maps"), 0, "level1.map\nlevel2.map\n");
  ExpectTranscript(Shell("fusermount3 -u m"), 0, "");
  // The daemon, which started in the background, must be gone with it.
  const std::string daemons = "pgrep -f '^" + std::string(QUIVERFS_BIN) + " assets.qvr m$'";
  ExpectTranscript(Shell("for i in $(seq 100); do " + daemons + " >/dev/null || exit 0; " +
                         "sleep 0.05; done; exit 1"),
                   0, "");
}

}  // namespace
}  // namespace quiver::test
