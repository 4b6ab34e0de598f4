#include "common/output_file.hpp"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/temporary_files.hpp"

namespace varnel_tool {
namespace {

// Links followed before giving up, as the kernel does (ELOOP).
constexpr int kMaxLinkDepth = 40;

mode_t mode_of_a_new_file() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

bool resolve_output_target(const std::string &path, std::string &target, std::string &error) {
  std::string current = path;
  for (int depth = 0; depth <= kMaxLinkDepth; ++depth) {
    struct stat status {};
    if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      target = current;
      return true;
    }
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = readlink(current.c_str(), buffer.data(), PATH_MAX);
    if (length < 0) {
      error = std::strerror(errno);
      return false;
    }
    const std::string link(buffer.data(), static_cast<size_t>(length));
    // A relative link counts from the link's own directory; the path is
    // joined, not tidied, so that ".." means what the kernel takes it to.
    const std::filesystem::path parent = std::filesystem::path(current).parent_path();
    current = link.starts_with('/') || parent.empty() ? link : (parent / link).string();
  }
  error = std::strerror(ELOOP);
  return false;
}

OutputFile::~OutputFile() { discard(); }

bool plan_output(const std::string &path, OutputPlace &place, std::string &error) {
  if (!resolve_output_target(path, place.target, error)) return false;
  struct stat existing {};
  place.mode = mode_of_a_new_file();
  if (stat(place.target.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      error = std::strerror(EISDIR);
      return false;
    }
    // The permission bits stay; set-user and set-group bits do not carry
    // over to contents someone else wrote.
    if (S_ISREG(existing.st_mode)) place.mode = existing.st_mode & 0777;
  }
  const std::filesystem::path target(place.target);
  const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";
  const std::string pattern = (directory / ("." + target.filename().string() + ".XXXXXX")).string();
  place.temporary.assign(pattern.begin(), pattern.end());
  place.temporary.push_back('\0');
  return true;
}

bool OutputFile::create(const std::string &final_path, bool keep_stream, std::string &error) {
  discard();
  write_errno_ = 0;
  OutputPlace place;
  if (!plan_output(final_path, place, error)) return false;
  target_path_ = place.target;
  std::vector<char> &buffer = place.temporary;
  const auto mode = static_cast<mode_t>(place.mode);
  {
    // Made and entered in the cleanup list as one step: a signal in
    // between would leave the file behind.
    CleanupSignalsBlocked blocked;
    const int fd = mkstemp(buffer.data());
    if (fd < 0) {
      error = std::strerror(errno);
      return false;
    }
    slot_ = register_temporary(buffer.data(), TemporaryKind::kFile);
    if (slot_ < 0) {
      close(fd);
      unlink(buffer.data());
      error = "too many temporary files at once";
      return false;
    }
    temporary_path_ = buffer.data();
    pending_ = true;
    // mkstemp makes the file private; give it the mode the output should have.
    fchmod(fd, mode);
    if (!keep_stream) {
      close(fd);
      return true;
    }
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
      error = std::strerror(errno);
      close(fd);
    }
  }
  if (stream_ == nullptr) {
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
    errno = 0;
    const int close_result = std::fclose(stream_);
    const int close_errno = errno;
    stream_ = nullptr;
    if (write_failed || close_result != 0) {
      const int reason = write_errno_ != 0 ? write_errno_ : close_errno != 0 ? close_errno : EIO;
      error = std::string("write error: ") + std::strerror(reason);
      discard();
      return false;
    }
  }
  if (std::rename(temporary_path_.c_str(), target_path_.c_str()) != 0) {
    error = "cannot rename " + temporary_path_ + " into place: " + std::strerror(errno);
    discard();
    return false;
  }
  pending_ = false;
  unregister_temporary(slot_);
  slot_ = -1;
  return true;
}

bool OutputFile::write(const void *bytes, size_t count) {
  if (stream_ == nullptr) return false;
  if (count == 0) return true;
  errno = 0;
  if (std::fwrite(bytes, 1, count, stream_) == count) return true;
  if (write_errno_ == 0) write_errno_ = errno != 0 ? errno : EIO;
  return false;
}

std::string OutputFile::write_error() const {
  return std::string("write error: ") + std::strerror(write_errno_ != 0 ? write_errno_ : EIO);
}

void OutputFile::discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (pending_) {
    CleanupSignalsBlocked blocked;
    unlink(temporary_path_.c_str());
    unregister_temporary(slot_);
    slot_ = -1;
    pending_ = false;
  }
}

}  // namespace varnel_tool
