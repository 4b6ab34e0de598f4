#include "container_output.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/mac_text.hpp"
#include "common/temporary_files.hpp"
#include "varnel.h"

namespace varnel_tool {

std::string apple_double_header_for(const std::string &path) {
  const std::filesystem::path file(path);
  return (file.parent_path() / ("._" + file.filename().string())).string();
}

namespace {

// The library names files of its own after the one it writes: BinHex keeps
// the forks in "." NAME ".partial.XXXXXX" until it encodes them, and
// AppleDouble the header in "._" NAME.  In the private directory NAME is
// cut short enough for those to fit.
constexpr size_t kLibraryNameExtra = 16;

// AppleDouble's header file "._NAME" must fit beside the output.
bool apple_double_fits(const OutputPlace &place, std::string &error) {
  const std::string header = "._" + std::filesystem::path(place.target).filename().string();
  if (place.written_into) {
    error = "AppleDouble is two files, and its header file \"" + header + "\" cannot go beside " + place.kind +
            "; MacBinary or AppleSingle keep both forks in one file";
    return false;
  }
  if (header.size() <= place.name_max) return true;
  error = "its AppleDouble header file \"" + header + "\" would need a name of " + std::to_string(header.size()) +
          " bytes, and the file system allows " + std::to_string(place.name_max);
  return false;
}

}  // namespace

ContainerOutput::~ContainerOutput() { discard(); }

const std::string &ContainerOutput::library_path() const {
  return in_directory_ ? written_ : single_.temporary_path();
}

bool ContainerOutput::create(const std::string &path, int32_t format, std::string &error) {
  in_directory_ = format == MACBIN_FORMAT_APPLEDOUBLE || format == MACBIN_FORMAT_BINHEX;
  if (!in_directory_) return single_.create(path, false, error);
  apple_double_ = format == MACBIN_FORMAT_APPLEDOUBLE;
  if (!plan_output(path, place_, error)) return false;
  if (apple_double_ && !apple_double_fits(place_, error)) return false;
  std::vector<char> &buffer = place_.temporary;
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
  const size_t room = place_.name_max > kLibraryNameExtra ? place_.name_max - kLibraryNameExtra : 1;
  const std::string name = utf8_prefix(std::filesystem::path(place_.target).filename().string(), room);
  written_ = (std::filesystem::path(directory_) / name).string();
  return true;
}

bool ContainerOutput::commit(std::string &error) {
  if (!in_directory_) return single_.commit(error);
  if (directory_.empty()) {
    error = "nothing to commit";
    return false;
  }
  const bool done = place_.written_into ? copy_into(written_, place_, error) : move_into_place(error);
  discard();  // the directory, empty after a move
  return done;
}

bool ContainerOutput::move_into_place(std::string &error) const {
  if (chmod(written_.c_str(), place_.mode) != 0) {
    error = "cannot set the permissions of " + written_ + ": " + std::strerror(errno);
    return false;
  }
  const std::string header = apple_double_header_for(place_.target);
  if (apple_double_) {
    // The header first: should the data file then fail to move, the new
    // header is taken away again rather than left describing other data.
    const std::string written_header = apple_double_header_for(written_);
    if (std::rename(written_header.c_str(), header.c_str()) != 0) {
      error = "cannot rename " + written_header + " into place: " + std::strerror(errno);
      return false;
    }
  }
  if (std::rename(written_.c_str(), place_.target.c_str()) != 0) {
    error = "cannot rename " + written_ + " into place: " + std::strerror(errno);
    if (apple_double_) unlink(header.c_str());
    return false;
  }
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
