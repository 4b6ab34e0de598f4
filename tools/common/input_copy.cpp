#include "common/input_copy.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "varnel.h"

namespace varnel_tool {
namespace {

constexpr size_t kChunkBytes = 64 * 1024;

// Writes all of `bytes`; false with errno set.
bool write_all(int fd, const uint8_t *bytes, size_t count) {
  while (count > 0) {
    const ssize_t written = ::write(fd, bytes, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

InputCopy::~InputCopy() { remove(); }

void InputCopy::remove() {
  if (path_.empty()) return;
  MacBin_RemoveTemporaryFile(path_.c_str());
  path_.clear();
}

bool InputCopy::copy_from(int fd, int64_t max_bytes, std::string &error) {
  remove();
  std::error_code code;
  const std::filesystem::path directory = std::filesystem::temp_directory_path(code);
  if (code) {
    error = "no temporary directory for a copy: " + code.message();
    return false;
  }
  const std::string pattern = (directory / "varnel-input-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // Made and listed by the library as one step, so that the tool's signal
  // handler removes it too.
  int copy = MacBin_MakeTemporaryFile(name.data());
  if (copy < 0) {
    error = "cannot make a temporary copy in " + directory.string() + ": " + std::strerror(errno);
    return false;
  }
  path_ = name.data();
  std::vector<uint8_t> buffer(kChunkBytes);
  size_ = 0;
  for (;;) {
    const ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      error = std::string("read error: ") + std::strerror(errno);
      break;
    }
    if (count == 0) {
      if (close(copy) == 0) return true;
      copy = -1;
      error = "cannot write the temporary copy " + path_ + ": " + std::strerror(errno);
      break;
    }
    size_ += count;
    if (size_ > max_bytes) {
      error = "longer than " + std::to_string(max_bytes) + " bytes, the most the tool reads";
      break;
    }
    if (!write_all(copy, buffer.data(), static_cast<size_t>(count))) {
      error = "cannot write the temporary copy " + path_ + ": " + std::strerror(errno);
      break;
    }
  }
  if (copy >= 0) close(copy);
  remove();
  return false;
}

}  // namespace varnel_tool
