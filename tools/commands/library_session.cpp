#include "library_session.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/progress_line.hpp"
#include "tool_context.hpp"
#include "varnel.h"

namespace varnel_tool {
namespace {

std::string current_resource;  // "PICT 128", the label of its progress line
std::unique_ptr<ProgressLine> picture_progress;

// The library records each failure with its code before it reports it
// (MacBin_LastError); the tool reads the code of each message and clears
// the record, so that the next message's code is its own.  A failed write
// of the output file comes first as a severe I/O failure, with the
// system's reason kept; then come its consequences (the resources not
// added, the removal of the file), recorded as following from it.  The
// tool says the reason in one line naming the file (library_write_error);
// the rest adds nothing.
bool write_failed = false;

// Set once a resource line's refusal has been said (by a processor or the
// tool), so that the library's "not inserted" after it is left out.
bool refusal_said = false;
int write_errno = 0;

// True when the message was taken as part of a failed write.
bool absorb_write_failure(int32_t code, int system_error, int32_t severity) {
  if (!write_failed) {
    if (severity != MACBIN_SEVERE || code != MACBIN_ERR_IO) return false;
    write_failed = true;
    write_errno = system_error;
    Reporter::instance().mark_failed();
    return true;
  }
  // After the failure: its consequences, not new faults.
  return severity >= MACBIN_WARNING && code == MACBIN_ERR_IO;
}

void report_message(const char *text, int32_t severity) {
  Reporter &reporter = Reporter::instance();
  const int32_t code = MacBin_LastError(nullptr);
  const int system_error = MacBin_LastSystemError();
  MacBin_ClearError();
  const std::string message = text != nullptr ? text : "";
  if (absorb_write_failure(code, system_error, severity)) return;
  if (severity >= MACBIN_ERROR && code != MACBIN_ERR_MEMORY && handling_line()) {
    // A processor's refusal of the line's parameter or of a file it names:
    // said against the line, and the "not inserted" after it adds nothing.
    line_error(message);
    refusal_said = true;
  } else if (severity >= MACBIN_ERROR) {
    reporter.error(message);
  } else if (severity == MACBIN_WARNING) {
    // The warnings the library records are a resource it could not insert,
    // which is missing from the file, and a damaged resource fork.  When
    // the tool has already said why, the first only repeats it.
    const bool not_inserted = code != MACBIN_ERR_NONE && code != MACBIN_ERR_DAMAGED;
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

// The library announces each resource (-1), then counts a picture's rows
// in percents, from 0 to 100: one progress line for each picture.
void follow_progress(const MacBinProgress *progress) {
  if (progress->percent < 0) {
    picture_progress.reset();
    current_resource = std::string(progress->type != nullptr ? progress->type : "") + " " +
                       std::to_string(progress->id);
    return;
  }
  if (progress->percent == 0 || !picture_progress)
    picture_progress = std::make_unique<ProgressLine>(current_resource, 100, ProgressUnit::kPercent);
  picture_progress->set_done(std::min(progress->percent, 100));
  if (progress->percent >= 100) {
    picture_progress->finish();
    picture_progress.reset();
  }
}

void on_progress(MacBinProgress *progress) {
  if (progress == nullptr) return;
  guard_callback(0, [&] {
    follow_progress(progress);
    return 0;
  });
}

}  // namespace

void set_refusal_explained(bool explained) { refusal_said = explained; }
bool refusal_explained() { return refusal_said; }

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
