// A private copy of an input that cannot be opened twice or positioned (a
// pipe, a terminal, standard input, a process substitution): read once
// into a temporary file, which the readers then open by name like any
// other file.  The copy is removed when the object goes, and when a signal
// ends the run (the library lists it: MacBin_MakeTemporaryFile).
#pragma once

#include <cstdint>
#include <string>

namespace varnel_tool {

class InputCopy {
 public:
  InputCopy() = default;
  ~InputCopy();
  InputCopy(const InputCopy &) = delete;
  InputCopy &operator=(const InputCopy &) = delete;

  // Reads `fd` to its end into the copy.  False with `error` set: a read
  // error ("read error: REASON"), more than `max_bytes` bytes, or no room
  // for the copy.  Does not close `fd`.
  bool copy_from(int fd, int64_t max_bytes, std::string &error);
  const std::string &path() const { return path_; }
  int64_t size() const { return size_; }

 private:
  void remove();

  std::string path_;
  int64_t size_ = 0;
};

}  // namespace varnel_tool
