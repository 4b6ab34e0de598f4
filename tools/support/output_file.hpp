// An output file that appears under its name only when complete: bytes go
// to a temporary file next to it, which commit() renames into place.  An
// output that is never committed is removed, so a failed run leaves no
// half-written file (and an older file of that name stays as it was).
#pragma once

#include <cstdio>
#include <string>

namespace varnel_tool {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  // Creates the temporary file.  With `keep_stream` false the file is
  // closed again at once, for writers that open it by name themselves.
  bool create(const std::string &final_path, bool keep_stream, std::string &error);
  FILE *stream() const { return stream_; }
  const std::string &temporary_path() const { return temporary_path_; }
  const std::string &final_path() const { return final_path_; }

  // Flushes, closes and renames; false with `error` set when any of it
  // failed (the temporary file is then removed).
  bool commit(std::string &error);
  // Closes and removes the temporary file (also what the destructor does).
  void discard();

 private:
  std::string final_path_;
  std::string temporary_path_;
  FILE *stream_ = nullptr;
  bool pending_ = false;
};

}  // namespace varnel_tool
