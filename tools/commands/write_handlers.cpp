#include "write_handlers.hpp"

#include <array>
#include <new>
#include <string>

#include "library_session.hpp"
#include "tool_context.hpp"
#include "varnel.h"

namespace varnel_tool {
namespace {

// The library's picture builder, which says why a picture is refused or a
// file fails; a picture cut short without a reason (a host method that
// gave up) is said against the line.
int32_t write_picture(MacBinChannel *channel, const char *param) {
  Reporter &reporter = Reporter::instance();
  const int errors_before = reporter.error_count();
  const int32_t complete = MacBin_Add_PICT(channel, param);
  if (complete == 0) {
    // A failed write cut it short: that is said once, naming the output.
    if (reporter.error_count() == errors_before && !library_write_error())
      line_error("the picture could not be written completely");
    reporter.mark_failed();
  }
  return complete;
}

int32_t insert_picture(MacBinChannel *channel, const char *param) {
  return guard_callback(int32_t{0}, [&] { return write_picture(channel, param); });
}

}  // namespace

bool register_write_handlers() {
  struct Registration {
    const char *type;
    MacBinWriteHandler handler;
  };
  const std::array<Registration, 11> registrations = {{
      {"vers", add_vers},
      {"FREF", add_FREF},
      {"Bndl", close_BNDL},
      {"PICT", insert_picture},
      {"ICN#", MacBin_Add_Icon},
      {"ics#", MacBin_Add_Icon},
      {"icl8", MacBin_Add_Icon},
      {"ics8", MacBin_Add_Icon},
      {"icl4", MacBin_Add_Icon},
      {"ics4", MacBin_Add_Icon},
      // Last: once "****" exists, registering a new type would change it.
      {"****", MacBin_Add_FileData},
  }};
  for (const Registration &registration : registrations) {
    if (MacBin_AddProcessor(registration.type, nullptr, registration.handler) != 0) {
      Reporter::instance().error("out of memory registering the resource processors");
      return false;
    }
  }
  return true;
}

void set_image_directory(const std::string &directory) {
  if (MacBin_SetImageDirectory(directory.c_str()) != 0) throw std::bad_alloc();
}

}  // namespace varnel_tool
