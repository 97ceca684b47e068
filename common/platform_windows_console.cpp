// The programs' half of the platform layer on Windows: UTF-8 arguments and
// console, and clean-up on Ctrl-C, Ctrl-Break and the console's closing.
// Windows runs a console handler on a thread of its own, so a
// CleanupSignalBlock is a lock the handler waits for, and a "signal" that
// waits is one whose handler is waiting.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform.h"
#include "platform_windows_text.h"

namespace quiver {
namespace {

void (*cleanup_handler)(int) = nullptr;
std::atomic<bool> cleanup_waiting{false};

std::recursive_mutex& CleanupLock() {
  static std::recursive_mutex lock;
  return lock;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  int number = SIGTERM;
  if (event == CTRL_C_EVENT) number = SIGINT;
  if (event == CTRL_BREAK_EVENT) number = SIGBREAK;
  cleanup_waiting = true;
  std::lock_guard hold(CleanupLock());
  cleanup_handler(number);
  return TRUE;
}

}  // namespace

bool IsTerminal(int stream) {
  return _isatty(stream) != 0;
}

// Through the C runtime, which writes a newline as Windows text has it.
ConsoleWrite WriteToConsole(int stream, const char* data, std::size_t size) {
  std::FILE* file = stream == kStandardError ? stderr : stdout;
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fflush(file) == 0 && written ? ConsoleWrite::kOk : ConsoleWrite::kFailed;
}

void RaiseBrokenPipe() {}

void HoldBrokenPipe() {}

int RunWithUtf8Arguments(int argc, char** argv, int (*run)(int, char**)) {
  SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return run(argc, argv);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Narrow(wide[i]));
  LocalFree(wide);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return run(count, pointers.data());
}

void InstallCleanupHandler(void (*handler)(int)) {
  cleanup_handler = handler;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void FailWritesPastTheFileSizeLimit() {}

void DieBySignal(int) {
  // What a console program ended by Ctrl-C reports.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  for (;;) Sleep(INFINITE);
}

bool CleanupSignalPending() {
  return cleanup_waiting;
}

CleanupSignalBlock::CleanupSignalBlock() {
  CleanupLock().lock();
}

CleanupSignalBlock::~CleanupSignalBlock() {
  CleanupLock().unlock();
}

}  // namespace quiver
