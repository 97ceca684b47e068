// Starting a program on POSIX systems: fork, then exec in its directory
// with the limits and signal dispositions the options ask for.
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "run_program.h"

namespace quiver::test {

const int kStoppedStatus = 128 + SIGTERM;
const int kReaderGoneStatus = 128 + SIGPIPE;

RunningProgram::RunningProgram(const std::string& program, const std::vector<std::string>& args,
                               const std::string& directory, const RunOptions& options) {
  int pipe_fds[2];
  int input_fds[2];
  if (::pipe(pipe_fds) != 0 || ::pipe(input_fds) != 0) std::abort();
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(input_fds[0], STDIN_FILENO);
    ::close(input_fds[0]);
    ::close(input_fds[1]);
    if (options.standard_output == StandardOutput::kCaptured) {
      ::dup2(pipe_fds[1], STDOUT_FILENO);
    } else {
      int sink = -1;
      int unread[2];
      if (options.standard_output == StandardOutput::kFullDevice) {
        sink = ::open("/dev/full", O_WRONLY);
      } else if (::pipe(unread) == 0) {
        ::close(unread[0]);
        sink = unread[1];
      }
      if (sink < 0 || ::dup2(sink, STDOUT_FILENO) < 0) ::_exit(126);
      ::dup2(pipe_fds[1], STDERR_FILENO);
    }
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) std::signal(s, SIG_DFL);
    for (int s : options.ignored_signals) std::signal(s, SIG_IGN);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    if (::chdir(directory.c_str()) != 0) ::_exit(126);
    if (options.file_size_limit >= 0) {
      struct rlimit limit = {static_cast<rlim_t>(options.file_size_limit),
                             static_cast<rlim_t>(options.file_size_limit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.address_space_limit >= 0) {
      struct rlimit limit = {static_cast<rlim_t>(options.address_space_limit),
                             static_cast<rlim_t>(options.address_space_limit)};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    if (options.open_file_limit >= 0) {
      struct rlimit limit = {static_cast<rlim_t>(options.open_file_limit),
                             static_cast<rlim_t>(options.open_file_limit)};
      ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (options.unprivileged && ::geteuid() == 0) {
      constexpr uid_t kNobody = 65534;
      if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
        ::_exit(126);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  ::close(input_fds[0]);
  // Small enough for the pipe's buffer: written before the program reads.
  if (!options.input.empty() &&
      ::write(input_fds[1], options.input.data(), options.input.size()) < 0)
    std::abort();
  ::close(input_fds[1]);
  output_ = pipe_fds[0];
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) Wait();
}

RunResult RunningProgram::Wait() {
  RunResult result;
  char chunk[4096];
  ssize_t n;
  const int fd = static_cast<int>(output_);
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0) result.output.append(chunk, n);
  ::close(fd);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool SystemProgramExists(const std::string& path) {
  return ::access(path.c_str(), X_OK) == 0;
}

bool FileSizeLimitBinds() {
  return true;
}

bool MemoryLimitBinds() {
  // The address checker reserves more address space than any limit leaves.
#if defined(__SANITIZE_ADDRESS__)
  return false;
#else
  return true;
#endif
}

// Once Wait has collected the program its pid is -1, which kill() would take
// for every process there is.
void RunningProgram::Stop() {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
}

void RunningProgram::Kill() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
}

}  // namespace quiver::test
