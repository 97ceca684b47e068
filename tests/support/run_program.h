// Runs a real program in a directory and captures what it prints. On
// Windows the file size limit, the user and the ignored signals do not apply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quiver::test {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string output;
};

enum class StandardOutput {
  kCaptured,    // into RunResult::output
  kFullDevice,  // every write fails; `output` holds standard error instead
  kClosedPipe,  // a pipe nobody reads; `output` holds standard error instead
};

// How a program ends that Stop() stopped, and one that wrote to a pipe
// nobody reads: by SIGTERM and SIGPIPE on POSIX systems; on Windows the
// status of a Ctrl-C, and the failed write's ordinary failure.
extern const int kStoppedStatus;
extern const int kReaderGoneStatus;

struct RunOptions {
  // RLIMIT_FSIZE in bytes, with SIGXFSZ at its default action: the
  // programs must turn it into a failing write themselves.
  long file_size_limit = -1;
  // RLIMIT_AS in bytes; on Windows the memory a job lets a process commit.
  long address_space_limit = -1;
  // RLIMIT_NOFILE; not set on Windows.
  long open_file_limit = -1;
  // Run as the user nobody when the tests run as root, so that file
  // permissions bind; the directory must then be open to all.
  bool unprivileged = false;
  StandardOutput standard_output = StandardOutput::kCaptured;
  // Signals the program starts with ignored, as under nohup.
  std::vector<int> ignored_signals;
  // Given on standard input, which is otherwise empty.
  std::string input;
};

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& directory, const RunOptions& options = {});

// A program started in the background, for tests that act while it runs.
class RunningProgram {
 public:
  RunningProgram(const std::string& program, const std::vector<std::string>& args,
                 const std::string& directory, const RunOptions& options = {});
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  int pid() const { return pid_; }
  // Stops the program as a user would: SIGTERM, or Ctrl-C on Windows.
  void Stop();
  // Ends it at once, giving it no chance to act.
  void Kill();
  // Collects the output and the status once the program has ended.
  RunResult Wait();

 private:
  int pid_ = -1;
  std::intptr_t process_ = -1;  // on Windows, the process's handle
  std::intptr_t output_ = -1;   // the read end of the output pipe
};

// Polls `ready` until it holds or `seconds` have passed on the clock (not
// counted in sleeps: under wine a short sleep may return at once).
bool WaitUntil(const std::function<bool()>& ready, int seconds = 4);

// How long to wait for a sign of a running program's progress, seen from
// outside: long enough for a program that starts slowly (wine under a
// parallel test run takes seconds); a run that passes never waits that long.
constexpr int kSlowStartSeconds = 30;

// Waits up to kSlowStartSeconds for `path` to exist with at least
// `min_size` bytes.
bool WaitForPath(const std::string& path, long min_size = 0);

// Whether the limits above bind here: Windows has no limit on the size of
// a process's files; wine keeps a job's memory limit without enforcing it,
// and the address checker needs more address space than a limit leaves.
bool FileSizeLimitBinds();
bool MemoryLimitBinds();

// The bytes that keep a program coding at least as long as `bytes` do in
// an optimised build: the address checker's build codes some twelve times
// slower and the thread checker's (at -O1) some twenty, so an eighth still
// lasts longer, and a test that only needs a busy program should not wait
// minutes for it.
std::size_t BusyBytes(std::size_t bytes);

// Whether a program of the Linux system the tests run on is there to run;
// never on Windows, where the tests reach no such program.
bool SystemProgramExists(const std::string& path);

std::string QuiverPath();
std::string QuiverxPath();

}  // namespace quiver::test
