// Runs a real program in a directory and captures what it prints.
#pragma once

#include <string>
#include <vector>

namespace quiver::test {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string output;
};

struct RunOptions {
  long file_size_limit = -1;  // RLIMIT_FSIZE in bytes, with SIGXFSZ ignored
};

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& directory, const RunOptions& options = {});

std::string QuiverPath();
std::string QuiverxPath();

}  // namespace quiver::test
