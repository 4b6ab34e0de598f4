// An output file through the library (MacBin_OpenOutput): made under a
// temporary name and put in place by commit(), so that a failed run leaves
// no half-written file and an older file as it was; removed when the
// object goes uncommitted.  The library lists its temporaries, and the
// tool's signal handler has it remove them (cleanup_signals.hpp).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "tool_context.hpp"
#include "varnel.h"

namespace varnel_tool {

class LibraryOutput {
 public:
  LibraryOutput() = default;
  ~LibraryOutput() { discard(); }
  LibraryOutput(const LibraryOutput &) = delete;
  LibraryOutput &operator=(const LibraryOutput &) = delete;

  // Opens the output for `path`: MACBIN_OUTPUT_BYTES, MACBIN_OUTPUT_FILE or
  // a container format for MacBin_OpenWOutput.  False with the library's
  // reason in `error`.
  bool create(const std::string &path, int32_t kind, std::string &error);
  MacBinOutput *get() const { return output_; }
  // The name a writer makes the file at.
  std::string temporary_path() const;
  // Writes bytes handed over; false with "write error: REASON" in `error`.
  bool write(std::span<const uint8_t> bytes, std::string &error);
  // Puts the output in place; false with `error` set and nothing of this
  // run left behind.
  bool commit(std::string &error);
  void discard();

 private:
  MacBinOutput *output_ = nullptr;
};

// The size of the regular file an output path replaced; nothing for an
// output written into (a device, a FIFO, a descriptor), whose size would
// say nothing of this run.
std::optional<uint64_t> replaced_file_size(const std::string &path);

// Writes OUT ("-": standard output) with the bytes `fill` hands to the
// writer it is given.  A file appears only when complete (LibraryOutput);
// false after an error message naming it.
bool write_output(const std::string &path, const std::function<bool(const ByteWriter &)> &fill);

}  // namespace varnel_tool
