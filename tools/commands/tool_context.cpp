#include "tool_context.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace varnel_tool {

namespace {
FILE *results_stream = nullptr;
bool results_failure_reported = false;

void report_results_failure(int error_number) {
  if (results_failure_reported) return;
  results_failure_reported = true;
  Reporter::instance().error(std::string("standard output: write error: ") +
                             std::strerror(error_number != 0 ? error_number : EIO));
}
}  // namespace

Reporter &Reporter::instance() {
  static Reporter reporter;
  return reporter;
}

void Reporter::print(const char *label, const std::string &text) {
  std::fflush(stdout);  // library texts go to the same descriptor
  if (progress_line_open_) {
    std::fputc('\n', stderr);
    progress_line_open_ = false;
  }
  if (context_.empty())
    std::fprintf(stderr, "varnel: %s%s\n", label, text.c_str());
  else
    std::fprintf(stderr, "varnel: %s: %s%s\n", context_.c_str(), label, text.c_str());
}

void Reporter::error(const std::string &text) {
  failed_ = true;
  ++error_count_;
  last_error_ = text;
  print("error: ", text);
}

void Reporter::error_without_memory(const char *text) noexcept {
  failed_ = true;
  ++error_count_;
  std::fflush(stdout);
  std::fprintf(stderr, "varnel: error: %s\n", text);
}

void Reporter::warning(const std::string &text) { print("warning: ", text); }

void Reporter::notice(const std::string &text) {
  if (!quiet_) print("", text);
}

void route_library_output_to_stderr() {
  if (results_stream != nullptr) return;
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  if (saved >= 0) results_stream = fdopen(saved, "w");
  if (results_stream == nullptr) {
    results_stream = stdout;  // cannot split: results and texts share the stream
    return;
  }
  dup2(STDERR_FILENO, STDOUT_FILENO);
  // Library texts now interleave with the tool's messages: keep their order.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

FILE *results() { return results_stream != nullptr ? results_stream : stdout; }

}  // namespace varnel_tool

namespace varnel_tool {

bool write_results(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return true;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), results()) == bytes.size()) return true;
  report_results_failure(errno);
  return false;
}

bool flush_results() {
  errno = 0;
  const bool flushed = std::fflush(results()) == 0;
  const int error_number = errno;
  if (flushed && std::ferror(results()) == 0) return !results_failure_reported;
  report_results_failure(error_number);
  return false;
}

bool finish_results() { return flush_results(); }

bool make_directory(const std::string &path) {
  std::error_code code;
  std::filesystem::create_directories(path, code);
  if (!code && std::filesystem::is_directory(path, code)) return true;
  const std::string reason = code ? code.message() : std::strerror(ENOTDIR);
  Reporter::instance().error(path + ": cannot create the directory: " + reason);
  return false;
}

}  // namespace varnel_tool
