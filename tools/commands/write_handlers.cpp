#include "write_handlers.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "common/mac_text.hpp"
#include "library_session.hpp"
#include "tool_context.hpp"
#include "varnel.h"

namespace varnel_tool {
namespace {

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<FILE, FileCloser>;

std::string trimmed(const char *text) {
  std::string value = text != nullptr ? text : "";
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t last = value.find_last_not_of(" \t");
  return value.substr(first, last - first + 1);
}

std::string line_directory;

// Runs a handler's body guarded (no exception may reach the library) and
// notes whether it printed an error.
template <typename Body>
int32_t run_handler(Body body) {
  Reporter &reporter = Reporter::instance();
  const int errors_before = reporter.error_count();
  const int32_t result = guard_callback(int32_t{0}, body);
  if (reporter.error_count() != errors_before) set_refusal_explained(true);
  return result;
}

std::string resource_type_of(const MacBinChannel *channel) {
  return std::string(channel->cur_type, strnlen(channel->cur_type, 4));
}

// "****": the parameter names a file whose bytes become the resource.
int32_t copy_file_contents(MacBinChannel *channel, const char *param) {
  const std::string type = resource_type_of(channel);
  const std::string name = trimmed(param);
  if (name.empty()) {
    line_error(type + " needs a file whose contents become the resource");
    return 0;
  }
  const std::string path = resolve_input_path(name);
  std::error_code code;
  if (!std::filesystem::is_regular_file(path, code)) {
    line_error(name + ": no such file");
    return 0;
  }
  const auto size = std::filesystem::file_size(path, code);
  if (code || size > static_cast<uint64_t>(kMaxResourceDataBytes)) {
    line_error(name + ": " + std::to_string(size) + " bytes; resource data is limited to " +
                   std::to_string(kMaxResourceDataBytes) + " bytes");
    return 0;
  }
  if (size == 0) {
    line_error(name + ": the file is empty, and a resource needs at least one byte");
    return 0;
  }
  FilePointer file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    line_error(name + ": cannot open: " + std::strerror(errno));
    return 0;
  }
  std::vector<uint8_t> buffer(64 * 1024);
  uint64_t copied = 0;
  for (;;) {
    const size_t count = std::fread(buffer.data(), 1, buffer.size(), file.get());
    if (count == 0) break;
    const auto length = static_cast<int32_t>(count);
    if (MacBin_PutBuf(buffer.data(), length, length) != 0) return 0;  // the library reports it
    copied += count;
  }
  if (std::ferror(file.get()) != 0 || copied != size) {
    line_error(name + ": read error");
    return 0;
  }
  return 1;
}

// "IMAGE RESOLUTION [MASK]" checked here, so that a mistake gets a clear
// message instead of a picture that silently is not written.
bool check_picture_parameter(const std::string &param) {
  const char *kForm = "PICT wants 'IMAGE RESOLUTION [MASK]', e.g. 'preview.png 72 mask.pbm'";
  if (param.empty()) {
    line_error(kForm);
    return false;
  }
  std::vector<char> buffer(param.size() + 1);
  std::array<char *, 4> words{};
  const int32_t count = MacBin_GetArguments(param.c_str(), buffer.data(), words.data(), 3);
  if (count < 2 || words[3] != nullptr) {
    line_error(kForm);
    return false;
  }
  const std::string resolution = words[1];
  const bool digits_only = !resolution.empty() && resolution.size() <= 5 &&
                           resolution.find_first_not_of("0123456789") == std::string::npos;
  const int value = digits_only ? std::stoi(resolution) : 0;
  if (value < 1 || value > 9600) {
    line_error("PICT resolution '" + resolution + "' must be a whole number of pixels per inch (1 to 9600)");
    return false;
  }
  return true;
}

// An icon line's image files as the icon's bytes, made by the library; its
// reason goes out against the line.
int32_t write_icon(MacBinChannel *channel, const char *param) {
  std::array<uint8_t, 1024> data{};  // the most any of the icon types takes (icl8)
  const int32_t length = MacBin_MakeIconFromLine(resource_type_of(channel).c_str(), param != nullptr ? param : "",
                                                 data.data(), static_cast<int32_t>(data.size()));
  if (length < 0) {
    const char *reason = "";
    MacBin_LastError(&reason);
    line_error(reason);
    return 0;
  }
  return MacBin_PutBuf(data.data(), length, length) == 0 ? 1 : 0;
}

int32_t insert_icon(MacBinChannel *channel, const char *param) {
  return run_handler([&] { return write_icon(channel, param); });
}

int32_t insert_file_contents(MacBinChannel *channel, const char *param) {
  return run_handler([&] { return copy_file_contents(channel, param); });
}

int32_t write_picture(MacBinChannel *channel, const char *param) {
  Reporter &reporter = Reporter::instance();
  if (!check_picture_parameter(trimmed(param))) return 0;
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
  return run_handler([&] { return write_picture(channel, param); });
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
      {"ICN#", insert_icon},
      {"ics#", insert_icon},
      {"icl8", insert_icon},
      {"ics8", insert_icon},
      {"icl4", insert_icon},
      {"ics4", insert_icon},
      // Last: once "****" exists, registering a new type would change it.
      {"****", insert_file_contents},
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
  line_directory = directory;
  if (MacBin_SetImageDirectory(directory.c_str()) != 0) throw std::bad_alloc();
}

std::string resolve_input_path(const std::string &name) {
  const std::filesystem::path path(name);
  if (path.is_absolute() || line_directory.empty()) return name;
  return (std::filesystem::path(line_directory) / path).string();
}

}  // namespace varnel_tool
