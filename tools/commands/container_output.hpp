// The files the library writes for one output in a given format, made under
// temporary names and put in place only when complete.  MacBinary and
// AppleSingle are one file, written under a temporary name beside it.
// AppleDouble is two, the data file and its header file "._NAME" beside it;
// BinHex is one, but the library keeps the forks in a hidden file beside it
// until it encodes them.  For those two the library writes into a private
// directory beside the output, so that one name covers everything it makes:
// the directory is removed, with all in it, when the run fails or a signal
// ends it, and on success its files are renamed into place, both or
// neither for AppleDouble.
//
// A device, FIFO or descriptor (/dev/stdout) is written into: the file is
// made in $TMPDIR and copied there when complete.  AppleDouble is refused
// there, since its header file "._NAME" has no place beside such an
// output; and wherever "._NAME" would be longer than the file system
// allows a name to be.
#pragma once

#include <cstdint>
#include <string>

#include "common/output_file.hpp"

namespace varnel_tool {

class ContainerOutput {
 public:
  ContainerOutput() = default;
  ~ContainerOutput();
  ContainerOutput(const ContainerOutput &) = delete;
  ContainerOutput &operator=(const ContainerOutput &) = delete;

  // Prepares the temporary names for `path` in `format` (MACBIN_FORMAT_*).
  // False with the system's reason in `error`.
  bool create(const std::string &path, int32_t format, std::string &error);
  // The name to give MacBin_OpenW.
  const std::string &library_path() const;
  // Puts the file (or both files) in place; false with `error` set, and
  // nothing of this run left behind.
  bool commit(std::string &error);
  // Removes what the library wrote (also what the destructor does).
  void discard();

 private:
  bool move_into_place(std::string &error) const;

  bool in_directory_ = false;
  OutputFile single_;         // MacBinary, AppleSingle
  std::string directory_;     // AppleDouble, BinHex: the private directory
  int directory_slot_ = -1;
  std::string written_;       // the library's file in it
  OutputPlace place_;         // where the output goes
  bool apple_double_ = false;
};

// "._NAME" beside `path`: where AppleDouble keeps the header file of NAME.
std::string apple_double_header_for(const std::string &path);

}  // namespace varnel_tool
