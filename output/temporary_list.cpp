// The temporary files and directories the library has made and not yet
// put in place or removed, kept where a signal handler can reach them.
//
// The library installs no handler: a host's handler for SIGINT, SIGTERM,
// SIGHUP or SIGPIPE calls MacBin_RemoveTemporaries, which may make
// async-signal-safe calls only.  So the paths live in storage set aside in
// advance, the removal uses unlink, rmdir, open, getdents64 and close
// alone, and those signals are blocked while the list changes, so that a
// handler never sees half an entry.  The same removal runs when the
// process ends through exit().
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "output/internal.hpp"

namespace varnel::output {
namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

struct Slot {
  volatile sig_atomic_t in_use;
  volatile sig_atomic_t directory;
  char path[PATH_MAX];
};

// Static storage: nothing is allocated when a signal arrives.  Written by
// hold_temporary and release_temporary with the signals blocked; read by
// remove_held_temporaries.
Slot slots[kMaxTemporaryPaths];
// Keeps two threads that open outputs at once from taking the same slot;
// the signal handler never takes it (it only reads the flags).
std::mutex slots_mutex;

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

void remove_at_exit() {
  const sigset_t set = cleanup_signal_set();
  sigset_t saved;
  sigprocmask(SIG_BLOCK, &set, &saved);
  remove_held_temporaries();
  sigprocmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace

CleanupSignalsBlocked::CleanupSignalsBlocked() {
  const sigset_t set = cleanup_signal_set();
  blocked_ = pthread_sigmask(SIG_BLOCK, &set, &saved_) == 0;
}

CleanupSignalsBlocked::~CleanupSignalsBlocked() {
  if (blocked_) pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

int hold_temporary(const char *path, TemporaryKind kind) {
  const size_t length = path != nullptr ? std::strlen(path) : 0;
  if (length == 0 || length >= PATH_MAX) return -1;
  static const bool at_exit = std::atexit(remove_at_exit) == 0;
  (void)at_exit;
  CleanupSignalsBlocked blocked;
  const std::lock_guard<std::mutex> lock(slots_mutex);
  for (int i = 0; i < kMaxTemporaryPaths; ++i) {
    Slot &slot = slots[i];
    if (slot.in_use != 0) continue;
    std::memcpy(slot.path, path, length + 1);
    slot.directory = kind == TemporaryKind::kDirectory ? 1 : 0;
    slot.in_use = 1;
    return i;
  }
  return -1;
}

void release_temporary(int slot) {
  if (slot < 0 || slot >= kMaxTemporaryPaths) return;
  CleanupSignalsBlocked blocked;
  const std::lock_guard<std::mutex> lock(slots_mutex);
  slots[slot].in_use = 0;
}

int find_temporary(const char *path) {
  if (path == nullptr) return -1;
  const std::lock_guard<std::mutex> lock(slots_mutex);
  for (int i = 0; i < kMaxTemporaryPaths; ++i) {
    if (slots[i].in_use != 0 && std::strcmp(slots[i].path, path) == 0) return i;
  }
  return -1;
}

void remove_held_temporaries() {
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

}  // namespace varnel::output
