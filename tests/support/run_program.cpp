#include "run_program.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace quiver::test {

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& directory, const RunOptions& options) {
  return RunningProgram(program, args, directory, options).Wait();
}

bool WaitUntil(const std::function<bool()>& ready, int seconds) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= give_up) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

bool WaitForPath(const std::string& path, long min_size) {
  return WaitUntil(
      [&] {
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        return !error && size >= static_cast<std::uintmax_t>(min_size);
      },
      kSlowStartSeconds);
}

std::size_t BusyBytes(std::size_t bytes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return bytes / 8;
#else
  return bytes;
#endif
}

std::string QuiverPath() {
  return QUIVER_BIN;
}
std::string QuiverxPath() {
  return QUIVERX_BIN;
}

}  // namespace quiver::test
