// Private to the library: never installed.
//
// Outputs that appear under their names only when complete.  A regular file
// (or none yet) is replaced: its bytes go to a temporary name beside it,
// renamed over it at the commit; a device, a FIFO or an open descriptor
// (/dev/stdout) is written into instead, never renamed over or removed.
// Every temporary the library makes is entered in a list that a host's
// signal handler can empty (MacBin_RemoveTemporaries), so that a run a
// signal ends leaves nothing half-written behind.
#pragma once

#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "varnel.h"

namespace varnel::output {

// ---- The list of temporaries (temporary_list.cpp) ---------------------------
// Largest number of temporary paths alive at once: a host keeps a few (an
// output or two, the copy of an input).
inline constexpr int kMaxTemporaryPaths = 32;

enum class TemporaryKind { kFile, kDirectory };

// Blocks SIGINT, SIGTERM, SIGHUP and SIGPIPE for the life of the object: for
// making a temporary and entering it in the list as one step, so that a
// handler never finds a file that is not listed yet.
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

// Enters a path in the list; the slot to give back, or -1 when the path is
// too long or the list is full.  A directory is emptied (one level deep)
// and removed.
int hold_temporary(const char *path, TemporaryKind kind);
// Takes a path off the list (committed, or removed by its owner).
void release_temporary(int slot);
// The slot of a listed path, or -1.
int find_temporary(const char *path);
// Removes every listed path with async-signal-safe calls alone.
void remove_held_temporaries();

// ---- Where an output goes (output_place.cpp) ---------------------------------
struct OutputPlace {
  std::string target;         // the path, or the file its symbolic link leads to
  unsigned mode = 0;          // the permission bits a replacing file gets
  bool written_into = false;  // not a regular file: written into, never replaced
  int descriptor = -1;        // N for /dev/stdout (1), /dev/fd/N and the like; else -1
  std::string kind;           // what is written into, for reasons: "a FIFO", "standard output"
  size_t name_max = 0;        // longest file name in the directory of the temporary name
  // NUL-ended, for mkstemp/mkdtemp: ".NAME.XXXXXX" beside a replaced file,
  // NAME shortened to fit name_max; "varnel-output-XXXXXX" in $TMPDIR for
  // one written into.
  std::vector<char> temporary;
};

// False with the reason in `error` (a directory, a socket, a loop of links).
bool plan_output(const std::string &path, OutputPlace &place, std::string &error);
// The descriptor MacBin_SetStandardOutput names; /dev/stdout and the like
// reach it.
void set_standard_output(int descriptor);
// Opens an output that is written into, as a stream; null with the reason.
// Opening a FIFO waits for its reader, as any writer does.
FILE *open_written_into(const OutputPlace &place, std::string &error);
// Flushes and closes such a stream; false with "write error: REASON",
// REASON being `write_errno` when a write failed already.
bool close_written_into(FILE *stream, int write_errno, std::string &error);
// Copies the file `from` into an output that is written into; false with
// "write error: REASON" (or why `from` could not be read) in `error`.
bool copy_into(const std::string &from, const OutputPlace &place, std::string &error);
// The first `limit` bytes of a UTF-8 text, never cutting a character.
std::string utf8_prefix(const std::string &text, size_t limit);

// ---- An output in the making (pending_output.cpp) ----------------------------
// Opens an output of `kind` (MACBIN_OUTPUT_BYTES, MACBIN_OUTPUT_FILE or a
// format MacBin_SetFormat writes); null with the reason in `error`.
MacBinOutput *open_output(const std::string &path, int32_t kind, std::string &error);
// The name a writer makes the file at; "" for bytes handed over.
const std::string &output_temporary_path(const MacBinOutput &output);
// The path as the host named it.
const std::string &output_path(const MacBinOutput &output);
int32_t output_kind(const MacBinOutput &output);
bool output_written_into(const MacBinOutput &output);
// False once a write failed; the reason stays for output_write_error.
bool write_output_bytes(MacBinOutput &output, std::span<const uint8_t> bytes);
std::string output_write_error(const MacBinOutput &output);
int output_write_errno(const MacBinOutput &output);
// Puts the output in place (both files or neither for AppleDouble) and
// releases it; false with the reason, nothing of the run left behind.
bool commit_output(MacBinOutput *output, std::string &error);
// Removes what was written and releases the output.
void discard_output(MacBinOutput *output);

}  // namespace varnel::output
