#include "run_program.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

namespace quiver::test {

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& directory, const RunOptions& options) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) std::abort();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    if (::chdir(directory.c_str()) != 0) ::_exit(126);
    if (options.file_size_limit >= 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {static_cast<rlim_t>(options.file_size_limit),
                             static_cast<rlim_t>(options.file_size_limit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  RunResult result;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], chunk, sizeof chunk)) > 0) result.output.append(chunk, n);
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string QuiverPath() {
  return QUIVER_BIN;
}
std::string QuiverxPath() {
  return QUIVERX_BIN;
}

}  // namespace quiver::test
