#include "library_session.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tool_context.hpp"
#include "varnel.h"
#include "write_handlers.hpp"

namespace varnel_tool {
namespace {

std::string current_resource;  // "PICT 128", for the progress bar

// The library reports a failed write of the output file right after it,
// with errno still telling why, and then the resources it could not add
// and the removal of the file.  The tool keeps the reason and says it in
// one line naming the file (library_write_error); the rest adds nothing.
constexpr const char *kWriteFailureText = "Writing output file";
bool write_failed = false;
int write_errno = 0;

// True when the message was taken as part of a failed write.
bool absorb_write_failure(const std::string &message, int32_t severity, int error_number) {
  if (!write_failed) {
    if (severity != MACBIN_SEVERE || message != kWriteFailureText) return false;
    write_failed = true;
    write_errno = error_number;
    Reporter::instance().mark_failed();
    return true;
  }
  // After the failure: its consequences, not new faults.
  return message == kWriteFailureText || message == "Removing output file(s)" ||
         message == "Please check file system !" || message.find("not inserted") != std::string::npos;
}

void report_message(const char *text, int32_t severity) {
  Reporter &reporter = Reporter::instance();
  const int error_number = errno;  // before anything here can change it
  const std::string message = text != nullptr ? text : "";
  if (absorb_write_failure(message, severity, error_number)) return;
  if (severity >= MACBIN_ERROR) {
    reporter.error(message);
  } else if (severity == MACBIN_WARNING) {
    // A resource the library could not insert is missing from the file.
    // When the tool has already said why, the warning only repeats it.
    const bool not_inserted = message.find("not inserted") != std::string::npos;
    if (!not_inserted || !refusal_explained()) reporter.warning(message);
    if (not_inserted) reporter.mark_failed();
  } else {
    reporter.notice(message);
  }
}

void on_message(const char * /*module*/, const char *text, int32_t severity) {
  guard_callback(0, [&] {
    report_message(text, severity);
    return 0;
  });
}

int32_t on_start(const char * /*title*/) { return 1; }

void on_end() {}

bool progress_bar_wanted() {
  static const bool on_terminal = isatty(STDERR_FILENO) != 0;
  return on_terminal && !Reporter::instance().quiet();
}

void draw_progress(const MacBinProgress *progress) {
  if (progress->percent < 0) {
    current_resource = std::string(progress->type != nullptr ? progress->type : "") + " " +
                       std::to_string(progress->id);
    return;
  }
  if (!progress_bar_wanted()) return;
  constexpr int kBarCells = 30;
  const int percent = progress->percent > 100 ? 100 : progress->percent;
  const int filled = percent * kBarCells / 100;
  std::fflush(stdout);
  std::fprintf(stderr, "\r%-10s [%s%s] %3d%%", current_resource.c_str(),
               std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(kBarCells - filled), ' ').c_str(), percent);
  if (percent >= 100) {
    std::fputc('\n', stderr);
    Reporter::instance().set_progress_line_open(false);
  } else {
    Reporter::instance().set_progress_line_open(true);
  }
  std::fflush(stderr);
}

void on_progress(MacBinProgress *progress) {
  if (progress == nullptr) return;
  guard_callback(0, [&] {
    draw_progress(progress);
    return 0;
  });
}

}  // namespace

std::optional<std::string> library_write_error() {
  if (!write_failed) return std::nullopt;
  // Without errno the library stopped on its own limit (positions past
  // 32 bits), which it reported before.
  return write_errno != 0 ? std::string("write error: ") + std::strerror(write_errno)
                          : std::string("write error (the library gives no system reason)");
}

bool start_library() {
  const int32_t result = MacBin_Init();
  if (result == 0) {
    Reporter::instance().error("the library could not start (out of memory)");
    return false;
  }
  if (result == 1) {
    MacBin_Setmethod(reinterpret_cast<MacBinMethod>(on_message), MACBIN_METHOD_MESSAGE);
    MacBin_Setmethod(reinterpret_cast<MacBinMethod>(on_start), MACBIN_METHOD_START);
    MacBin_Setmethod(reinterpret_cast<MacBinMethod>(on_progress), MACBIN_METHOD_PROGRESS);
    MacBin_Setmethod(reinterpret_cast<MacBinMethod>(on_end), MACBIN_METHOD_END_NOTICE);
  }
  return true;
}

}  // namespace varnel_tool
