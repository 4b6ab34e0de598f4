// Shared helpers for the tests: hex golden bytes, big-endian numbers,
// temporary directories, captured standard output, a recording message
// method, the zone and fault hooks, a scratch output file, file access and
// peer programs (macutils, hfsutils, ImageMagick, unar).  MacBinary files
// are built and parsed by macbinary.hpp, images served by image_host.hpp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "varnel.h"

namespace vt {

using Bytes = std::vector<uint8_t>;

// "00 48 00 00" (blanks, newlines and '|' comments ignored) -> bytes.
Bytes hex(std::string_view text);
// bytes -> "00 48 00 00" (16 per line) for readable failure output.
std::string to_hex(const Bytes &bytes);
// Bytes of a text, without its NUL.
Bytes bytes_of(std::string_view text);
Bytes repeat(uint8_t value, size_t count);
Bytes concat(std::initializer_list<Bytes> parts);

// Big-endian numbers, written out byte by byte.  Every read is bounds-checked:
// past the end it throws std::out_of_range, which fails the test.
uint32_t be16(const Bytes &bytes, size_t at);
uint32_t be24(const Bytes &bytes, size_t at);
uint32_t be32(const Bytes &bytes, size_t at);
void append_be16(Bytes &out, uint32_t value);
void append_be24(Bytes &out, uint32_t value);
void append_be32(Bytes &out, uint32_t value);
void store_be16(Bytes &out, size_t at, uint32_t value);
void store_be32(Bytes &out, size_t at, uint32_t value);
// `count` bytes from `at`; throws std::out_of_range when they are not all there.
Bytes slice(const Bytes &bytes, size_t at, size_t count);
// `bytes` with `with` written over it from `at`.
Bytes patched(Bytes bytes, size_t at, const Bytes &with);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::filesystem::path &path() const { return path_; }
  std::string file(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

Bytes read_file(const std::string &path);
void write_file(const std::string &path, const Bytes &bytes);
void write_text(const std::string &path, std::string_view text);
bool file_exists(const std::string &path);

// Captures what is written to standard output (file descriptor 1, so printf
// from the library is caught) between construction and text().
class CaptureStdout {
 public:
  CaptureStdout();
  ~CaptureStdout();
  CaptureStdout(const CaptureStdout &) = delete;
  CaptureStdout &operator=(const CaptureStdout &) = delete;
  // Stops capturing (first call) and returns everything captured.
  std::string text();

 private:
  int saved_fd_ = -1;
  std::string path_;
  bool done_ = false;
  std::string captured_;
};

// A message method that records each call as "MODULE|SEVERITY|TEXT".
struct Message {
  std::string module;
  std::string text;
  int32_t severity;
};
std::vector<Message> &recorded_messages();
void record_message(const char *module, const char *text, int32_t severity);
// MacBin_Init, then installs record_message as the message method (id 11);
// clears earlier records.
void init_recording();
// Number of recorded messages with this text.
size_t count_messages(std::string_view text);

// Which trace lines the library prints, as the build option
// VARNEL_TRACE_FLAGS documents them (0: none).
inline constexpr uint32_t kTraceCondition = 2, kTraceMsg = 4, kTraceInsert = 8;
void set_trace_flags(uint32_t flags);

// A write handler whose resource is its parameter text, as it stands.
int32_t write_parameter_text(MacBinChannel *channel, const char *param);

// The library zone (after MacBin_Init): bytes in use, and a cap on them (0:
// none) that makes its allocations fail.
size_t zone_in_use();
void limit_zone(size_t bytes);

// The file layer's injected faults: the write after `bytes` more bytes, or
// the seek after `calls` more seeks, fails with `error_number`.  clear_faults
// switches both off (files that failed stay failed).
void fail_writes_after(int64_t bytes, int32_t error_number);
void fail_seeks_after(int64_t calls, int32_t error_number);
void clear_faults();

// A scratch file in a directory of its own, opened for writing and made
// `outfile`, so that the output primitives and the write handlers write
// there.  The destructor closes and releases everything it made.
class ScratchOutput {
 public:
  ScratchOutput();
  ~ScratchOutput();
  ScratchOutput(const ScratchOutput &) = delete;
  ScratchOutput &operator=(const ScratchOutput &) = delete;
  TesselFile *file() const { return file_; }
  const std::string &path() const { return path_; }
  // A writing channel on the file, made MacChannel, inserting this resource
  // (as MacBin_AddResource would have set it up for a write handler).
  MacBinChannel *open_channel(const char *type, int32_t id, const char *name);
  // Closes the file; fclosx's result (0 when every byte reached it).
  int32_t close();
  // Closes the file when still open and returns its bytes.
  Bytes bytes();

 private:
  TempDir dir_;
  std::string path_;
  TesselFile *file_ = nullptr;
  bool open_ = false;
  MacBinChannel *channel_ = nullptr;
};

// Peer programs.  Returns the program's path when it is there (`make test`
// installs their Debian packages; a test never does).
// When it is missing: if the environment says CI=true the test fails,
// otherwise it is skipped with the reason printed.  VARNEL_NO_PEERS=1 in the
// environment skips every peer test, also with CI=true (cross builds under
// an emulator).  Use as:
//   std::string hcopy = vt::require_peer("hcopy", "hfsutils");
//   if (hcopy.empty()) GTEST_SKIP() << "hfsutils not installed";
std::string require_peer(const std::string &program, const std::string &package);
// Runs a shell command; returns its exit status and fills `output` with its
// standard output and standard error.
int run_command(const std::string &command, std::string *output = nullptr);

// Source and build directories (from the environment CTest sets).
std::string source_dir();
std::string binary_dir();

}  // namespace vt
