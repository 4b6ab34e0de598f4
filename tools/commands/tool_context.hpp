// What every subcommand shares: exit statuses, reporting to standard error,
// the stream that results go to, and usage errors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <new>
#include <span>
#include <stdexcept>
#include <string>

namespace varnel_tool {

enum ExitStatus : int {
  kExitSuccess = 0,  // every step succeeded
  kExitFailure = 1,  // an error was reported; no output file was left behind
  kExitUsage = 2     // the command line was wrong
};

// Thrown by argument parsing; main() prints it with a pointer to --help.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Messages to standard error.  Errors make the run fail; notices are
// silenced by -q.  The context (a script line, a resource) prefixes each
// message while it is set.  A progress line on the terminal is cleared
// before each message, so that none lands in the middle of it.
class Reporter {
 public:
  static Reporter &instance();

  // Quiet also means no progress line (common/progress_line.hpp).
  void set_quiet(bool quiet);
  bool quiet() const { return quiet_; }
  void set_context(std::string context) { context_ = std::move(context); }
  const std::string &context() const { return context_; }

  void error(const std::string &text);
  void warning(const std::string &text);
  void notice(const std::string &text);
  // For callbacks after an exception: prints without allocating.
  void error_without_memory(const char *text) noexcept;
  // Counts as a failure without printing (the library already said why).
  void mark_failed() { failed_ = true; }
  bool failed() const { return failed_; }
  // Errors printed so far (lets a caller tell whether a step said why it failed).
  int error_count() const { return error_count_; }
  // Warnings printed so far.
  int warning_count() const { return warning_count_; }
  // The text of the latest error, without the context and the label.
  const std::string &last_error() const { return last_error_; }

 private:
  void print(const char *label, const std::string &text);

  bool quiet_ = false;
  bool failed_ = false;
  int error_count_ = 0;
  std::string last_error_;
  int warning_count_ = 0;
  std::string context_;
};

// Sets the context for the life of the object, then restores the old one.
class ReportContext {
 public:
  explicit ReportContext(std::string context)
      : saved_(Reporter::instance().context()) {
    Reporter::instance().set_context(std::move(context));
  }
  ~ReportContext() { Reporter::instance().set_context(saved_); }
  ReportContext(const ReportContext &) = delete;
  ReportContext &operator=(const ReportContext &) = delete;

 private:
  std::string saved_;
};

// Runs the body of a method or handler that the library calls: no
// exception may travel back through the library, so any becomes an error
// message and the given failure result.
template <typename Result, typename Body>
Result guard_callback(Result failure, Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    Reporter::instance().error_without_memory("out of memory");
  } catch (const std::exception &error) {
    Reporter::instance().error_without_memory(error.what());
  }
  return failure;
}

// Standard output is kept for results only: the library prints some texts
// with printf, so file descriptor 1 is pointed at standard error for the
// whole run and results go to this stream, a copy of the original output.
void route_library_output_to_stderr();
FILE *results();
// Writes bytes of a result; false after an error message when standard
// output refused them.
bool write_results(std::span<const uint8_t> bytes);
// Flushes the results written so far; false after an error message (once)
// when any of them did not reach standard output (a full disk, a closed
// pipe when SIGPIPE is ignored).
bool flush_results();

// Bytes handed over piece by piece; false after an error message.
using ByteWriter = std::function<bool(std::span<const uint8_t>)>;

// Creates a directory and its parents; false after an error message with
// the system's reason.
bool make_directory(const std::string &path);

// The Macintosh name for a file written as `path` when no other is known
// (MacBin_DefaultMacName): MacRoman, at most 31 characters.
std::string default_macintosh_name(const std::string &path);

// A container as messages name it: "MacBinary II", "a bare resource fork", ...
std::string container_title(int32_t format);

// The resource line being handled ("" between lines).  Each error about it
// ends with the line quoted, so that a refusal shows what it refuses.
void set_current_line(const std::string &text);
bool handling_line();
void line_error(const std::string &text);

}  // namespace varnel_tool
