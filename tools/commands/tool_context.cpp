#include "tool_context.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/mac_text.hpp"
#include "common/progress_line.hpp"
#include "varnel.h"

namespace varnel_tool {

namespace {
FILE *results_stream = nullptr;
int results_fd = -1;
bool results_failure_reported = false;
// Why the first write of results failed: the stream's buffer hides it by
// the time a flush or ferror shows that something went wrong.
int results_errno = 0;

void report_results_failure(int error_number) {
  if (results_failure_reported) return;
  results_failure_reported = true;
  const int reason = results_errno != 0 ? results_errno : error_number != 0 ? error_number : EIO;
  Reporter::instance().error(std::string("standard output: write error: ") + std::strerror(reason));
}

// The results stream writes through here, so that the reason of a failed
// write is kept.
ssize_t write_results_bytes(void * /*cookie*/, const char *bytes, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t written = ::write(results_fd, bytes + done, count - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (results_errno == 0) results_errno = errno;
      return done > 0 ? static_cast<ssize_t>(done) : -1;
    }
    done += static_cast<size_t>(written);
  }
  return static_cast<ssize_t>(done);
}

int close_results(void * /*cookie*/) { return ::close(results_fd); }
}  // namespace

Reporter &Reporter::instance() {
  static Reporter reporter;
  return reporter;
}

void Reporter::print(const char *label, const std::string &text) {
  std::fflush(stdout);  // library texts go to the same descriptor
  clear_progress_line();
  if (context_.empty())
    std::fprintf(stderr, "varnel: %s%s\n", label, text.c_str());
  else
    std::fprintf(stderr, "varnel: %s: %s%s\n", context_.c_str(), label, text.c_str());
}

void Reporter::set_quiet(bool quiet) {
  quiet_ = quiet;
  silence_progress_lines(quiet);
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
  clear_progress_line();
  std::fprintf(stderr, "varnel: error: %s\n", text);
}

void Reporter::warning(const std::string &text) {
  ++warning_count_;
  print("warning: ", text);
}

void Reporter::notice(const std::string &text) {
  if (!quiet_) print("", text);
}

void route_library_output_to_stderr() {
  if (results_stream != nullptr) return;
  std::fflush(stdout);
  results_fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (results_fd >= 0) {
    cookie_io_functions_t functions{};
    functions.write = write_results_bytes;
    functions.close = close_results;
    results_stream = fopencookie(nullptr, "w", functions);
  }
  if (results_stream == nullptr) {
    if (results_fd >= 0) close(results_fd);
    results_stream = stdout;  // cannot split: results and texts share the stream
    return;
  }
  dup2(STDERR_FILENO, STDOUT_FILENO);
  MacBin_SetStandardOutput(results_fd);  // /dev/stdout as an output still reaches it
  // Library texts now interleave with the tool's messages: keep their order.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

FILE *results() { return results_stream != nullptr ? results_stream : stdout; }

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

bool make_directory(const std::string &path) {
  std::error_code code;
  std::filesystem::create_directories(path, code);
  if (!code && std::filesystem::is_directory(path, code)) return true;
  const std::string reason = code ? code.message() : std::strerror(ENOTDIR);
  Reporter::instance().error(path + ": cannot create the directory: " + reason);
  return false;
}

std::string default_macintosh_name(const std::string &path) {
  char name[MACBIN_MAX_FILE_NAME_LENGTH + 1] = {};
  MacBin_DefaultMacName(path.c_str(), name, sizeof name);
  return name;
}

std::string container_title(int32_t format) {
  const char *title = MacBin_ContainerName(format, MACBIN_CONTAINER_TITLE);
  return title != nullptr ? title : "format " + std::to_string(format);
}

namespace {

std::string current_line;

// " (in 'LINE')" for a line, shortened when it is long; "" for none.
std::string quoted_line(const std::string &text) {
  if (text.empty()) return "";
  // A line of hundreds of characters would bury the message.
  constexpr size_t kLongestQuote = 100;
  constexpr size_t kShortenedQuote = 80;
  if (text.size() <= kLongestQuote) return " (in '" + text + "')";
  size_t characters = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  return " (in '" + utf8_prefix(text, kShortenedQuote) + "...', " + std::to_string(characters) + " characters)";
}

}  // namespace

void set_current_line(const std::string &text) { current_line = text; }

bool handling_line() { return !current_line.empty(); }

void line_error(const std::string &text) { Reporter::instance().error(text + quoted_line(current_line)); }

}  // namespace varnel_tool
