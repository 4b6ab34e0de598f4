#include "support/output_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace varnel_tool {
namespace {

// Temporary files not yet committed or discarded.  The library may end the
// process itself (a fatal error ends it through exit()); the files must not
// stay behind then either.
std::vector<std::string> &pending_files() {
  static std::vector<std::string> *files = new std::vector<std::string>();  // outlives static destructors
  return *files;
}

void remove_pending_files() {
  for (const std::string &path : pending_files()) std::remove(path.c_str());
}

void track(const std::string &path) {
  static const bool registered = std::atexit(remove_pending_files) == 0;
  (void)registered;
  pending_files().push_back(path);
}

void untrack(const std::string &path) { std::erase(pending_files(), path); }

}  // namespace

OutputFile::~OutputFile() { discard(); }

bool OutputFile::create(const std::string &final_path, bool keep_stream, std::string &error) {
  discard();
  final_path_ = final_path;
  const std::filesystem::path target(final_path);
  const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";
  std::string pattern = (directory / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = mkstemp(buffer.data());
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  temporary_path_ = buffer.data();
  pending_ = true;
  track(temporary_path_);
  // mkstemp makes the file private; give it the mode a plain create would.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, static_cast<mode_t>(0666 & ~mask));
  if (!keep_stream) {
    close(fd);
    return true;
  }
  stream_ = fdopen(fd, "wb");
  if (stream_ == nullptr) {
    error = std::strerror(errno);
    close(fd);
    discard();
    return false;
  }
  return true;
}

bool OutputFile::commit(std::string &error) {
  if (!pending_) {
    error = "nothing to commit";
    return false;
  }
  if (stream_ != nullptr) {
    const bool write_failed = std::ferror(stream_) != 0;
    const int saved_errno = errno;
    const int close_result = std::fclose(stream_);
    stream_ = nullptr;
    if (write_failed || close_result != 0) {
      error = std::strerror(write_failed ? (saved_errno != 0 ? saved_errno : EIO) : errno);
      discard();
      return false;
    }
  }
  if (std::rename(temporary_path_.c_str(), final_path_.c_str()) != 0) {
    error = std::strerror(errno);
    discard();
    return false;
  }
  pending_ = false;
  untrack(temporary_path_);
  return true;
}

void OutputFile::discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (pending_) {
    std::remove(temporary_path_.c_str());
    untrack(temporary_path_);
    pending_ = false;
  }
}

}  // namespace varnel_tool
