// An output file that appears under its name only when complete: bytes go
// to a temporary file next to it, which commit() renames into place.  An
// output that is never committed is removed, so a failed run leaves no
// half-written file (and an older file of that name stays as it was); the
// temporary file is also removed when a signal ends the run
// (support/temporary_files.hpp).
//
// A file that is replaced keeps its permission bits; a new one gets those
// a plain create would give (0666 less the umask).  When the name is a
// symbolic link, the file it leads to is replaced (and made, when the link
// dangles), not the link.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace varnel_tool {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  // Creates the temporary file.  With `keep_stream` false the file is
  // closed again at once, for writers that open it by name themselves.
  // False with the system's reason in `error`.
  bool create(const std::string &final_path, bool keep_stream, std::string &error);
  const std::string &temporary_path() const { return temporary_path_; }

  // Writes to the stream; false when the write failed, whose reason is
  // kept for write_error() and commit().
  bool write(const void *bytes, size_t count);
  // "write error: REASON" for the first failed write.
  std::string write_error() const;

  // Flushes, closes and renames; false with `error` set when any of it
  // failed ("write error: REASON", "cannot rename ...: REASON"); the
  // temporary file is then removed.
  bool commit(std::string &error);
  // Closes and removes the temporary file (also what the destructor does).
  void discard();

 private:
  std::string target_path_;  // the path, or the file its symbolic link leads to
  std::string temporary_path_;
  FILE *stream_ = nullptr;
  bool pending_ = false;
  int slot_ = -1;
  int write_errno_ = 0;
};

// The file that writing to `path` replaces: `path` itself, or for a
// symbolic link (a chain of them) the file it leads to, which need not
// exist yet.  False with the system's reason in `error`.
bool resolve_output_target(const std::string &path, std::string &target, std::string &error);

// Where an output for a path is made, before anything is created.
struct OutputPlace {
  std::string target;            // as resolve_output_target gives it
  unsigned mode;                 // the permission bits the output gets
  std::vector<char> temporary;   // ".NAME.XXXXXX" beside the target, NUL-ended, for mkstemp/mkdtemp
};
// False with the system's reason in `error` (also for a directory).
bool plan_output(const std::string &path, OutputPlace &place, std::string &error);

}  // namespace varnel_tool
