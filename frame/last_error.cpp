// The calling thread's last failure: its code and text, kept for hosts
// that need more than a result of 1 or null (MacBin_LastError).
//
// Each thread has its own record, so a host that reads files on several
// threads never sees another thread's failure.  The record lives in plain
// arrays: a thread that ends leaves nothing to destroy.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frame/internal.hpp"
#include "varnel.h"

namespace {

constexpr size_t kErrorTextBytes = 512;

struct ErrorRecord {
  int32_t code = MACBIN_ERR_NONE;
  int32_t system_error = 0;
  uint32_t failures = 0;  // every recorded failure counts, also one that repeats the last
  char text[kErrorTextBytes] = "";
};

thread_local ErrorRecord last_error;

void keep_text(const char *text, int32_t system_error) {
  if (text == nullptr) text = "";
  if (system_error == 0) {
    std::snprintf(last_error.text, sizeof last_error.text, "%s", text);
    return;
  }
  // The system's reason ends the text, unless the message names it already.
  const char *reason = std::strerror(system_error);
  if (std::strstr(text, reason) != nullptr) {
    std::snprintf(last_error.text, sizeof last_error.text, "%s", text);
  } else {
    std::snprintf(last_error.text, sizeof last_error.text, "%s: %s", text, reason);
  }
}

}  // namespace

int32_t default_error_code(int32_t severity) {
  // Errors refuse the call that reported them; severe reports are failures
  // of the output, which take the file with them.  Notices and warnings are
  // no failure unless their site says otherwise.
  if (severity == MACBIN_SEVERE) return MACBIN_ERR_IO;
  if (severity == MACBIN_ERROR) return MACBIN_ERR_ARGUMENT;
  return MACBIN_ERR_NONE;
}

void record_error(int32_t code, const char *text) {
  const int saved_errno = errno;
  if (code == kErrorFollows) {
    // A consequence of a failure recorded before: that one names the cause.
    if (last_error.code != MACBIN_ERR_NONE) {
      ++last_error.failures;
      return;
    }
    code = MACBIN_ERR_IO;
  }
  if (code == MACBIN_ERR_NONE) return;
  const int32_t system_error = code == MACBIN_ERR_IO ? saved_errno : 0;
  last_error.code = code;
  last_error.system_error = system_error;
  ++last_error.failures;
  keep_text(text, system_error);
  errno = saved_errno;  // the message method may still want it
}

uint32_t recorded_failures() { return last_error.failures; }

static_assert(LastErrorKept::kTextBytes == kErrorTextBytes);

LastErrorKept::LastErrorKept() : code_(last_error.code), system_error_(last_error.system_error) {
  std::memcpy(text_, last_error.text, sizeof text_);
}

LastErrorKept::~LastErrorKept() {
  last_error.code = code_;
  last_error.system_error = system_error_;
  std::memcpy(last_error.text, text_, sizeof text_);
}

extern "C" {

int32_t MacBin_LastError(const char **text) {
  if (text != nullptr) *text = last_error.text;
  return last_error.code;
}

int32_t MacBin_LastSystemError(void) { return last_error.system_error; }

void MacBin_ClearError(void) {
  last_error.code = MACBIN_ERR_NONE;
  last_error.system_error = 0;
  last_error.text[0] = '\0';
}

const char *MacBin_Version(void) { return VARNEL_VERSION_STRING; }

}  // extern "C"
