// The programs' half of the platform layer: arguments and the clean-up
// signals. Only the programs link it, never the reader library.
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform.h"

namespace quiver {
namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

sigset_t CleanupSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kCleanupSignals) sigaddset(&set, s);
  return set;
}

}  // namespace

bool IsTerminal(int stream) {
  return ::isatty(stream) == 1;
}

ConsoleWrite WriteToConsole(int stream, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(stream, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 && errno == EPIPE ? ConsoleWrite::kBrokenPipe : ConsoleWrite::kFailed;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return ConsoleWrite::kOk;
}

void RaiseBrokenPipe() {
  ::raise(SIGPIPE);
}

void HoldBrokenPipe() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

int RunWithUtf8Arguments(int argc, char** argv, int (*run)(int, char**)) {
  return run(argc, argv);
}

void InstallCleanupHandler(void (*handler)(int)) {
  for (int s : kCleanupSignals) {
    struct sigaction old_action = {};
    if (sigaction(s, nullptr, &old_action) == 0 && old_action.sa_handler == SIG_IGN) continue;
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(s, &action, nullptr);
  }
}

void FailWritesPastTheFileSizeLimit() {
  ::signal(SIGXFSZ, SIG_IGN);
}

void DieBySignal(int signal_number) {
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
  // A blocked signal stays pending until the mask lets it through.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::_exit(128 + signal_number);
}

bool CleanupSignalPending() {
  sigset_t pending;
  if (sigpending(&pending) != 0) return false;
  for (int s : kCleanupSignals)
    if (sigismember(&pending, s) == 1) return true;
  return false;
}

CleanupSignalBlock::CleanupSignalBlock() {
  static_assert(sizeof(sigset_t) <= sizeof saved_);
  sigset_t set = CleanupSignalSet();
  sigprocmask(SIG_BLOCK, &set, reinterpret_cast<sigset_t*>(saved_));
}

CleanupSignalBlock::~CleanupSignalBlock() {
  sigprocmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(saved_), nullptr);
}

}  // namespace quiver
