#include "cleanup_signals.hpp"

#include <cerrno>
#include <csignal>

#include "varnel.h"

namespace varnel_tool {
namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void on_cleanup_signal(int signal_number) {
  const int saved_errno = errno;
  MacBin_RemoveTemporaries();
  // The default action ends the process by this signal once the handler
  // returns and the signal is unblocked.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
  raise(signal_number);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
  errno = saved_errno;  // only reached if the signal did not end the process
}

}  // namespace

void install_cleanup_on_signals() {
  struct sigaction action {};
  action.sa_handler = on_cleanup_signal;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : kCleanupSignals) sigaddset(&action.sa_mask, signal_number);  // one at a time
  for (const int signal_number : kCleanupSignals) {
    struct sigaction previous {};
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal_number, &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, nullptr);
}

}  // namespace varnel_tool
