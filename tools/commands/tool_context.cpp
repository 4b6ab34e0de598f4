#include "tool_context.hpp"

#include <unistd.h>

namespace varnel_tool {

namespace {
FILE *results_stream = nullptr;
}

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
