// The temporary files and directories a run has made and not yet committed
// or removed, kept where a signal handler can reach them.  When SIGINT,
// SIGTERM, SIGHUP or SIGPIPE ends the run, the handler removes them, puts
// the signal's default action back and raises it again, so that whoever
// started the tool sees it end by that signal and nothing half-written is
// left.  The same cleanup runs when the process ends through exit() (the
// library ends it that way after a fatal error).
//
// The handler may only make async-signal-safe calls: the paths live in
// storage set aside at start-up, and it uses unlink, rmdir, open,
// getdents64 and close alone.  Signals are blocked while the list changes,
// so the handler never sees half an entry.
#pragma once

#include <signal.h>

#include <string>

namespace varnel_tool {

// Installs the handlers and ignores SIGXFSZ, so that a file-size limit
// shows as a failed write (EFBIG) that the tool reports, instead of ending
// the process with the temporary file still there.  Call once, early.
void install_cleanup_on_signals();

// Blocks the cleanup signals for the life of the object: for making a
// temporary file and entering it in the list as one step.
class CleanupSignalsBlocked {
 public:
  CleanupSignalsBlocked();
  ~CleanupSignalsBlocked();
  CleanupSignalsBlocked(const CleanupSignalsBlocked &) = delete;
  CleanupSignalsBlocked &operator=(const CleanupSignalsBlocked &) = delete;

 private:
  bool blocked_ = false;
  sigset_t saved_{};
};

enum class TemporaryKind { kFile, kDirectory };

// Enters a path in the list; the slot to give back, or -1 when the path is
// too long or the list is full (the caller then removes what it made and
// reports the failure).  A directory is emptied (one level) and removed.
int register_temporary(const std::string &path, TemporaryKind kind);
// Takes a path off the list (after it was committed or removed).
void unregister_temporary(int slot);

// Largest number of temporary paths alive at once: each command keeps a
// few (an output file, the directory pack assembles its output in, a copy
// of standard input).
inline constexpr int kMaxTemporaryPaths = 16;

}  // namespace varnel_tool
