#include "common/output_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/temporary_files.hpp"

namespace varnel_tool {

OutputFile::~OutputFile() { discard(); }

bool OutputFile::create(const std::string &final_path, bool keep_stream, std::string &error) {
  discard();
  write_errno_ = 0;
  if (!plan_output(final_path, place_, error)) return false;
  if (place_.written_into && keep_stream) {
    // Nothing to rename or remove: the bytes go where the name leads.
    stream_ = open_written_into(place_, error);
    open_ = stream_ != nullptr;
    return open_;
  }
  if (!make_temporary(keep_stream, error)) return false;
  open_ = true;
  return true;
}

bool OutputFile::make_temporary(bool keep_stream, std::string &error) {
  std::vector<char> &buffer = place_.temporary;
  const auto mode = static_cast<mode_t>(place_.mode);
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
    if (!place_.written_into) fchmod(fd, mode);
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

bool OutputFile::close_stream(std::string &error) {
  if (stream_ == nullptr) return true;
  FILE *stream = stream_;
  stream_ = nullptr;
  return close_written_into(stream, write_errno_, error);
}

bool OutputFile::commit(std::string &error) {
  if (!open_) {
    error = "nothing to commit";
    return false;
  }
  bool done = close_stream(error);
  if (done && pending_ && place_.written_into) {
    done = copy_into(temporary_path_, place_, error);
  } else if (done && pending_ && std::rename(temporary_path_.c_str(), place_.target.c_str()) != 0) {
    error = "cannot rename " + temporary_path_ + " into place: " + std::strerror(errno);
    done = false;
  }
  if (done && pending_ && !place_.written_into) {
    pending_ = false;  // renamed: nothing left to remove
    unregister_temporary(slot_);
    slot_ = -1;
  }
  discard();
  return done;
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
  open_ = false;
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
