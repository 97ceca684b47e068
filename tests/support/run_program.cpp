#include "run_program.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace quiver::test {

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& directory, const RunOptions& options) {
  return RunningProgram(program, args, directory, options).Wait();
}

bool WaitForPath(const std::string& path, long min_size) {
  for (int i = 0; i < 20000; ++i) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (!error && size >= static_cast<std::uintmax_t>(min_size)) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

std::string QuiverPath() {
  return QUIVER_BIN;
}
std::string QuiverxPath() {
  return QUIVERX_BIN;
}

}  // namespace quiver::test
