#include "common/whole_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace varnel_tool {
namespace {

constexpr size_t kChunkBytes = 64 * 1024;

bool read_to_end(int fd, int64_t max_bytes, std::vector<uint8_t> &bytes, std::string &error) {
  bytes.clear();
  for (;;) {
    const size_t before = bytes.size();
    bytes.resize(before + kChunkBytes);
    const ssize_t count = ::read(fd, bytes.data() + before, kChunkBytes);
    if (count < 0) {
      bytes.resize(before);
      if (errno == EINTR) continue;
      error = std::string("read error: ") + std::strerror(errno);
      return false;
    }
    bytes.resize(before + static_cast<size_t>(count));
    if (count == 0) return true;
    if (static_cast<int64_t>(bytes.size()) > max_bytes) {
      error = "longer than " + std::to_string(max_bytes) + " bytes, the most the tool reads";
      return false;
    }
  }
}

}  // namespace

bool read_whole_file(const std::string &path, int64_t max_bytes, std::vector<uint8_t> &bytes,
                     std::string &error) {
  if (path == "-") return read_to_end(STDIN_FILENO, max_bytes, bytes, error);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  const bool ok = read_to_end(fd, max_bytes, bytes, error);
  close(fd);
  return ok;
}

}  // namespace varnel_tool
