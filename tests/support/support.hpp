// Shared helpers for the tests: hex golden bytes, temporary directories,
// captured standard output, a recording message method, file access and
// peer programs (macutils, hfsutils, ImageMagick, unar).
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

// Peer programs.  Returns the program's path when it is there (installing
// its Debian package with apt-get when running as root, once per process).
// When it is still missing: if the environment says CI=true the test fails,
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
