#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "support/support.hpp"
#include "tessel/testing.h"

namespace vt {

CaptureStdout::CaptureStdout() {
  std::fflush(stdout);
  char name[] = "/tmp/varnel-capture-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  path_ = name;
  saved_fd_ = dup(1);
  dup2(fd, 1);
  close(fd);
}

std::string CaptureStdout::text() {
  if (!done_) {
    std::fflush(stdout);
    dup2(saved_fd_, 1);
    close(saved_fd_);
    Bytes b = read_file(path_);
    captured_.assign(b.begin(), b.end());
    unlink(path_.c_str());
    done_ = true;
  }
  return captured_;
}

CaptureStdout::~CaptureStdout() { text(); }

std::vector<Message> &recorded_messages() {
  static std::vector<Message> messages;
  return messages;
}

void record_message(const char *module, const char *text, int32_t severity) {
  recorded_messages().push_back({module ? module : "", text ? text : "", severity});
}

void init_recording() {
  MacBin_Init();
  // Blocks from the zone hold a pattern, not zeros: a field the library
  // reads without setting it shows.
  tessel_zone_set_fill(MacIOControl.zone, 0xA5);
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(record_message), MACBIN_METHOD_MESSAGE);
  recorded_messages().clear();
}

size_t count_messages(std::string_view text) {
  size_t n = 0;
  for (const Message &m : recorded_messages())
    if (m.text == text) ++n;
  return n;
}

}  // namespace vt
