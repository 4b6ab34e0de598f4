#include "common/temporary_files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace varnel_tool {
namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

struct Slot {
  volatile sig_atomic_t in_use;
  volatile sig_atomic_t directory;
  char path[PATH_MAX];
};

// Static storage: nothing is allocated when a signal arrives.
Slot slots[kMaxTemporaryPaths];

sigset_t cleanup_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : kCleanupSignals) sigaddset(&set, signal_number);
  return set;
}

// Removes the entries of a directory, one level deep, with raw system
// calls and a static buffer (opendir would allocate).
void empty_directory(const char *path) {
  const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  alignas(struct dirent64) static char buffer[4096];
  for (;;) {
    const long count = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (count <= 0) break;
    for (long at = 0; at < count;) {
      const auto *entry = reinterpret_cast<const struct dirent64 *>(buffer + at);
      const char *name = entry->d_name;
      const bool dot = name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
      if (!dot) unlinkat(fd, name, 0);
      at += entry->d_reclen;
    }
  }
  close(fd);
}

void remove_all_registered() {
  for (Slot &slot : slots) {
    if (slot.in_use == 0) continue;
    if (slot.directory != 0) {
      empty_directory(slot.path);
      rmdir(slot.path);
    } else {
      unlink(slot.path);
    }
    slot.in_use = 0;
  }
}

extern "C" void on_cleanup_signal(int signal_number) {
  const int saved_errno = errno;
  remove_all_registered();
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

void remove_at_exit() {
  const sigset_t set = cleanup_signal_set();
  sigprocmask(SIG_BLOCK, &set, nullptr);
  remove_all_registered();
}

}  // namespace

void install_cleanup_on_signals() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = on_cleanup_signal;
  action.sa_mask = cleanup_signal_set();  // one cleanup at a time
  for (const int signal_number : kCleanupSignals) {
    struct sigaction previous {};
    // A signal ignored by whoever started the tool (nohup) stays ignored.
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal_number, &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, nullptr);
}

CleanupSignalsBlocked::CleanupSignalsBlocked() {
  const sigset_t set = cleanup_signal_set();
  blocked_ = sigprocmask(SIG_BLOCK, &set, &saved_) == 0;
}

CleanupSignalsBlocked::~CleanupSignalsBlocked() {
  if (blocked_) sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

int register_temporary(const std::string &path, TemporaryKind kind) {
  if (path.empty() || path.size() >= PATH_MAX) return -1;
  static const bool at_exit = std::atexit(remove_at_exit) == 0;
  (void)at_exit;
  CleanupSignalsBlocked blocked;
  for (int i = 0; i < kMaxTemporaryPaths; ++i) {
    Slot &slot = slots[i];
    if (slot.in_use != 0) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.directory = kind == TemporaryKind::kDirectory ? 1 : 0;
    slot.in_use = 1;
    return i;
  }
  return -1;
}

void unregister_temporary(int slot) {
  if (slot < 0 || slot >= kMaxTemporaryPaths) return;
  CleanupSignalsBlocked blocked;
  slots[slot].in_use = 0;
}

}  // namespace varnel_tool
