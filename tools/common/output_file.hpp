// An output file that appears under its name only when complete: bytes go
// to a temporary file next to it, which commit() renames into place.  An
// output that is never committed is removed, so a failed run leaves no
// half-written file (and an older file of that name stays as it was); the
// temporary file is also removed when a signal ends the run
// (common/temporary_files.hpp).
//
// A file that is replaced keeps its permission bits; a new one gets those
// a plain create would give (0666 less the umask).  When the name is a
// symbolic link, the file it leads to is replaced (and made, when the link
// dangles), not the link.
//
// A device, a FIFO or an open descriptor (/dev/stdout) is written into
// instead (common/output_place.hpp): a stream goes straight there, and a
// file that a writer makes by name is made in $TMPDIR and copied there by
// commit().
#pragma once

#include <cstdio>
#include <string>

#include "common/output_place.hpp"

namespace varnel_tool {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  // Opens the output.  With `keep_stream` false there is no stream: a
  // writer makes the file by name at temporary_path() itself.  False with
  // the system's reason in `error`.
  bool create(const std::string &final_path, bool keep_stream, std::string &error);
  const std::string &temporary_path() const { return temporary_path_; }

  // Writes to the stream; false when the write failed, whose reason is
  // kept for write_error() and commit().
  bool write(const void *bytes, size_t count);
  // "write error: REASON" for the first failed write.
  std::string write_error() const;

  // Flushes, closes and renames (or copies); false with `error` set when
  // any of it failed ("write error: REASON", "cannot rename ...: REASON");
  // the temporary file is then removed.
  bool commit(std::string &error);
  // Closes and removes the temporary file (also what the destructor does).
  void discard();

 private:
  bool make_temporary(bool keep_stream, std::string &error);
  bool close_stream(std::string &error);

  OutputPlace place_;
  std::string temporary_path_;
  FILE *stream_ = nullptr;
  bool open_ = false;     // created and neither committed nor discarded
  bool pending_ = false;  // the temporary file exists
  int slot_ = -1;
  int write_errno_ = 0;
};

}  // namespace varnel_tool
