#include "container_output.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/temporary_files.hpp"
#include "varnel.h"

namespace varnel_tool {

std::string apple_double_header_for(const std::string &path) {
  const std::filesystem::path file(path);
  return (file.parent_path() / ("._" + file.filename().string())).string();
}

ContainerOutput::~ContainerOutput() { discard(); }

const std::string &ContainerOutput::library_path() const {
  return in_directory_ ? written_ : single_.temporary_path();
}

bool ContainerOutput::create(const std::string &path, int32_t format, std::string &error) {
  in_directory_ = format == MACBIN_FORMAT_APPLEDOUBLE || format == MACBIN_FORMAT_BINHEX;
  if (!in_directory_) return single_.create(path, false, error);
  apple_double_ = format == MACBIN_FORMAT_APPLEDOUBLE;
  OutputPlace place;
  if (!plan_output(path, place, error)) return false;
  target_ = place.target;
  mode_ = place.mode;
  std::vector<char> &buffer = place.temporary;
  // Made and entered in the cleanup list as one step.
  CleanupSignalsBlocked blocked;
  if (mkdtemp(buffer.data()) == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  directory_slot_ = register_temporary(buffer.data(), TemporaryKind::kDirectory);
  if (directory_slot_ < 0) {
    rmdir(buffer.data());
    error = "too many temporary files at once";
    return false;
  }
  directory_ = buffer.data();
  written_ = (std::filesystem::path(directory_) / std::filesystem::path(target_).filename()).string();
  return true;
}

bool ContainerOutput::commit(std::string &error) {
  if (!in_directory_) return single_.commit(error);
  if (directory_.empty()) {
    error = "nothing to commit";
    return false;
  }
  if (chmod(written_.c_str(), mode_) != 0) {
    error = "cannot set the permissions of " + written_ + ": " + std::strerror(errno);
    discard();
    return false;
  }
  const std::string header = apple_double_header_for(target_);
  if (apple_double_) {
    // The header first: should the data file then fail to move, the new
    // header is taken away again rather than left describing other data.
    const std::string written_header = apple_double_header_for(written_);
    if (std::rename(written_header.c_str(), header.c_str()) != 0) {
      error = "cannot rename " + written_header + " into place: " + std::strerror(errno);
      discard();
      return false;
    }
  }
  if (std::rename(written_.c_str(), target_.c_str()) != 0) {
    error = "cannot rename " + written_ + " into place: " + std::strerror(errno);
    if (apple_double_) unlink(header.c_str());
    discard();
    return false;
  }
  discard();  // the empty directory
  return true;
}

void ContainerOutput::discard() {
  single_.discard();
  if (directory_.empty()) return;
  CleanupSignalsBlocked blocked;
  std::error_code code;
  std::filesystem::remove_all(directory_, code);
  unregister_temporary(directory_slot_);
  directory_slot_ = -1;
  directory_.clear();
}

}  // namespace varnel_tool
