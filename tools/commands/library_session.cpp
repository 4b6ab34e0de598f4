#include "library_session.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "tool_context.hpp"
#include "varnel.h"
#include "write_handlers.hpp"

namespace varnel_tool {
namespace {

std::string current_resource;  // "PICT 128", for the progress bar

void report_message(const char *text, int32_t severity) {
  Reporter &reporter = Reporter::instance();
  const std::string message = text != nullptr ? text : "";
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
