// Where an output for a path goes, decided before anything is made.
//
// A regular file (or none yet) is replaced: the output is made under a
// temporary name beside it and renamed over it when complete.  When the
// name is a symbolic link, the file it leads to is replaced, not the link.
//
// Anything else that can be opened for writing (a character or block
// device, a FIFO, or an open descriptor named as /dev/stdout, /dev/fd/N or
// /proc/self/fd/N) is written into, never renamed over or removed: renaming
// over /dev/null would put a plain file in its place, and /dev/stdout
// names descriptor 1, which the tool points elsewhere.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace varnel_tool {

struct OutputPlace {
  std::string target;          // the path, or the file its symbolic link leads to
  unsigned mode = 0;           // the permission bits a replacing file gets
  bool written_into = false;   // not a regular file: written into, never replaced
  int descriptor = -1;         // N for /dev/stdout (1), /dev/fd/N and the like; else -1
  std::string kind;            // what is written into, for messages: "a FIFO", "standard output"
  size_t name_max = 0;         // longest file name in the directory of the temporary name
  // NUL-ended, for mkstemp/mkdtemp: ".NAME.XXXXXX" beside a replaced file,
  // NAME shortened to fit name_max; "varnel-output-XXXXXX" in $TMPDIR for one
  // written into.
  std::vector<char> temporary;
};

// False with the reason in `error` (a directory, a socket, a loop of links).
bool plan_output(const std::string &path, OutputPlace &place, std::string &error);

// Opens an output that is written into, as a stream; null with the reason
// in `error`.  Opening a FIFO waits for its reader, as any writer does.
FILE *open_written_into(const OutputPlace &place, std::string &error);

// Copies the file `from` into an output that is written into; false with
// "write error: REASON" (or why `from` could not be read) in `error`.
bool copy_into(const std::string &from, const OutputPlace &place, std::string &error);

// Flushes and closes a stream opened by open_written_into; false with
// "write error: REASON" in `error`, REASON being `write_errno` when a write
// already failed.
bool close_written_into(FILE *stream, int write_errno, std::string &error);

// /dev/stdout, /dev/fd/1 and /proc/self/fd/1 name descriptor 1, which the
// tool points at standard error for the library's texts: its original
// standard output lives on as `descriptor`, and `results` is the stream
// writing to it, flushed before an output goes there so that both keep
// their order.
void set_original_standard_output(int descriptor, FILE *results);

// The size of the regular file that an output path replaced; nothing for
// an output written into, whose size would say nothing of this run.
std::optional<uint64_t> replaced_file_size(const std::string &path);

}  // namespace varnel_tool
