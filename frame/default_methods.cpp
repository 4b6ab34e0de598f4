// The four default methods and the calls through the method slots.
//
// The defaults reach the message method through its slot, never directly, so
// that a host that replaces only the message method also gets the start,
// progress and end notices in its own output.
#include <cstdio>

#include "frame/internal.hpp"
#include "varnel.h"

namespace {

constexpr const char *kModule = "MacBin";
// Room for one composed progress line; longer texts are cut, never overrun.
constexpr size_t kProgressTextBytes = 256;

const char *or_empty(const char *text) { return text != nullptr ? text : ""; }

}  // namespace

void default_message(const char *module, const char *text, int32_t severity) {
  if (severity >= MACBIN_INFO && severity <= MACBIN_SEVERE) {
    std::printf("%s : %s : %s\n", or_empty(module), debug_values.severity_names[severity - 1],
                or_empty(text));
  } else {
    // The library never passes another severity, but a host may: print its
    // number rather than index outside the name table.
    std::printf("%s : %d : %s\n", or_empty(module), severity, or_empty(text));
  }
}

int32_t default_start(const char * /*title*/) {
  report("Start Macintosh Resources", MACBIN_INFO);
  return 1;
}

void default_progress(MacBinProgress *progress) {
  if (progress == nullptr) return;
  char text[kProgressTextBytes];
  if (progress->percent == -1) {
    if (progress->name != nullptr) {
      std::snprintf(text, sizeof text, "Starting Resource %s number %d (%s)",
                    or_empty(progress->type), progress->id, progress->name);
    } else {
      std::snprintf(text, sizeof text, "Starting Resource %s number %d", or_empty(progress->type),
                    progress->id);
    }
  } else {
    std::snprintf(text, sizeof text, "Percentage %d", progress->percent);
  }
  report(text, MACBIN_INFO);
}

void default_end() { report("End Macintosh Resources", MACBIN_INFO); }

// ---- Calls through the slots ------------------------------------------------------
// A host must keep these methods installed; should it empty a slot anyway,
// messages still reach the default printer (an error must not vanish) and
// the notices are simply not given, rather than calling through null.

void report(const char *text, int32_t severity) {
  report(text, severity, default_error_code(severity));
}

void report(const char *text, int32_t severity, int32_t code) {
  record_error(code, text);
  auto message = method_slot<MacBinMessageMethod>(MACBIN_METHOD_MESSAGE);
  if (message == nullptr) message = default_message;
  message(kModule, text, severity);
}

int32_t call_start(const char *title) {
  const auto start = method_slot<MacBinStartMethod>(MACBIN_METHOD_START);
  return start != nullptr ? start(title) : 0;
}

void call_progress(MacBinProgress *progress) {
  const auto method = method_slot<MacBinProgressMethod>(MACBIN_METHOD_PROGRESS);
  if (method != nullptr) method(progress);
}

void call_end() {
  const auto end = method_slot<MacBinEndMethod>(MACBIN_METHOD_END_NOTICE);
  if (end != nullptr) end();
}
