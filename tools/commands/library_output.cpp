#include "library_output.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>

namespace varnel_tool {
namespace {

std::string last_reason() {
  const char *why = nullptr;
  MacBin_LastError(&why);
  return why != nullptr ? why : "";
}

// Whether `path` names a descriptor of the process rather than a file
// (/dev/stdout, /dev/fd/N, /proc/self/fd/N): following it would find what
// the descriptor has become in this process.
bool names_a_descriptor(const std::string &path) {
  std::error_code code;
  const std::string normal = std::filesystem::absolute(path, code).lexically_normal().string();
  return !code && (normal == "/dev/stdin" || normal == "/dev/stdout" || normal == "/dev/stderr" ||
                   normal.starts_with("/dev/fd/") || normal.starts_with("/proc/"));
}

}  // namespace

bool LibraryOutput::create(const std::string &path, int32_t kind, std::string &error) {
  discard();
  // Results written so far come before an output that goes to standard output.
  std::fflush(results());
  output_ = MacBin_OpenOutput(path.c_str(), kind);
  if (output_ == nullptr) error = last_reason();
  return output_ != nullptr;
}

std::string LibraryOutput::temporary_path() const {
  const char *path = MacBin_OutputPath(output_);
  return path != nullptr ? path : "";
}

bool LibraryOutput::write(std::span<const uint8_t> bytes, std::string &error) {
  while (!bytes.empty()) {
    const size_t piece = std::min<size_t>(bytes.size(), INT32_MAX);
    if (MacBin_WriteOutput(output_, bytes.data(), static_cast<int32_t>(piece)) != 0) {
      error = last_reason();
      return false;
    }
    bytes = bytes.subspan(piece);
  }
  return true;
}

bool LibraryOutput::commit(std::string &error) {
  if (output_ == nullptr) {
    error = "nothing to commit";
    return false;
  }
  std::fflush(results());
  MacBinOutput *output = output_;
  output_ = nullptr;
  if (MacBin_CommitOutput(output) == 0) return true;
  error = last_reason();
  return false;
}

void LibraryOutput::discard() {
  MacBin_DiscardOutput(output_);
  output_ = nullptr;
}

std::optional<uint64_t> replaced_file_size(const std::string &path) {
  struct stat status {};
  if (names_a_descriptor(path) || stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(status.st_size);
}

bool write_output(const std::string &path, const std::function<bool(const ByteWriter &)> &fill) {
  if (path == "-") return fill(write_results);
  Reporter &reporter = Reporter::instance();
  LibraryOutput output;
  std::string error;
  if (!output.create(path, MACBIN_OUTPUT_BYTES, error)) {
    reporter.error(path + ": cannot create: " + error);
    return false;
  }
  bool write_failed = false;
  const ByteWriter to_file = [&](std::span<const uint8_t> bytes) {
    if (output.write(bytes, error)) return true;
    reporter.error(path + ": " + error);
    write_failed = true;
    return false;
  };
  if (!fill(to_file)) return false;
  if (!output.commit(error)) {
    if (!write_failed) reporter.error(path + ": " + error);
    return false;
  }
  return true;
}

}  // namespace varnel_tool
