#include "cleanup_signals.h"

namespace quiver {
namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

}  // namespace

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

sigset_t CleanupSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kCleanupSignals) sigaddset(&set, s);
  return set;
}

}  // namespace quiver
