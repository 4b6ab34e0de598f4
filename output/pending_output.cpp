// An output in the making: the temporaries it is written to, and how the
// commit puts them in place.
//
// Bytes handed over (MACBIN_OUTPUT_BYTES) go to a temporary file beside
// the output, or straight into a device, FIFO or descriptor.  A file that a
// writer makes by name (MACBIN_OUTPUT_FILE, MacBinary, AppleSingle) gets a
// temporary name beside the output.  AppleDouble is two files, the data
// file and its header file "._NAME"; BinHex is one, but the writer keeps
// the forks in a hidden file beside it until it encodes them.  For those
// two the writer works in a private directory beside the output, so that
// one listed name covers everything it makes, and the commit renames its
// files into place, both or neither for AppleDouble.  What is written into
// is made in $TMPDIR and copied there by the commit.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "output/internal.hpp"

struct MacBinOutput {
  std::string path;  // as the host named it
  int32_t kind = MACBIN_OUTPUT_BYTES;
  varnel::output::OutputPlace place;
  std::string temporary;  // the file the bytes or the writer go to; "" when written into directly
  std::string directory;  // AppleDouble, BinHex: the private directory holding `temporary`
  int slot = -1;          // the entry of `temporary` (or `directory`) in the list
  FILE *stream = nullptr;
  int write_errno = 0;
};

namespace varnel::output {
namespace {

// The writer names files of its own after the one it writes: BinHex keeps
// the forks in "." NAME ".partial.XXXXXX" until it encodes them, and
// AppleDouble the header in "._" NAME.  In the private directory NAME is
// cut short enough for those to fit.
constexpr size_t kWriterNameExtra = 16;
constexpr char kTooMany[] = "too many temporary files at once";

bool in_private_directory(int32_t kind) { return kind == MACBIN_FORMAT_APPLEDOUBLE || kind == MACBIN_FORMAT_BINHEX; }

std::string apple_double_header_for(const std::string &path) {
  const std::filesystem::path file(path);
  return (file.parent_path() / ("._" + file.filename().string())).string();
}

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

// A temporary file, made and listed as one step; with `stream` the output
// keeps it open for bytes handed over.
bool make_temporary_file(MacBinOutput &output, bool stream, std::string &error) {
  std::vector<char> &buffer = output.place.temporary;
  CleanupSignalsBlocked blocked;
  const int fd = mkstemp(buffer.data());
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  output.slot = hold_temporary(buffer.data(), TemporaryKind::kFile);
  if (output.slot < 0) {
    close(fd);
    unlink(buffer.data());
    error = kTooMany;
    return false;
  }
  output.temporary = buffer.data();
  // mkstemp makes the file private; give it the mode the output should have.
  if (!output.place.written_into) fchmod(fd, static_cast<mode_t>(output.place.mode));
  if (!stream) {
    close(fd);
    return true;
  }
  output.stream = fdopen(fd, "wb");
  if (output.stream != nullptr) return true;
  error = std::strerror(errno);
  close(fd);
  return false;
}

bool make_private_directory(MacBinOutput &output, std::string &error) {
  OutputPlace &place = output.place;
  if (output.kind == MACBIN_FORMAT_APPLEDOUBLE && !apple_double_fits(place, error)) return false;
  CleanupSignalsBlocked blocked;
  if (mkdtemp(place.temporary.data()) == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  output.slot = hold_temporary(place.temporary.data(), TemporaryKind::kDirectory);
  if (output.slot < 0) {
    rmdir(place.temporary.data());
    error = kTooMany;
    return false;
  }
  output.directory = place.temporary.data();
  const size_t room = place.name_max > kWriterNameExtra ? place.name_max - kWriterNameExtra : 1;
  const std::string name = utf8_prefix(std::filesystem::path(place.target).filename().string(), room);
  output.temporary = (std::filesystem::path(output.directory) / name).string();
  return true;
}

bool prepare(MacBinOutput &output, std::string &error) {
  if (!plan_output(output.path, output.place, error)) return false;
  if (in_private_directory(output.kind)) return make_private_directory(output, error);
  const bool stream = output.kind == MACBIN_OUTPUT_BYTES;
  if (stream && output.place.written_into) {
    // Nothing to rename or remove: the bytes go where the name leads.
    output.stream = open_written_into(output.place, error);
    return output.stream != nullptr;
  }
  return make_temporary_file(output, stream, error);
}

bool close_stream(MacBinOutput &output, std::string &error) {
  if (output.stream == nullptr) return true;
  FILE *stream = output.stream;
  output.stream = nullptr;
  return close_written_into(stream, output.write_errno, error);
}

// AppleDouble's header file "._NAME" put in place first: should the data
// file then fail to move, the new header is taken away again rather than
// left describing other data, and an older header comes back (kept as a
// second name in the private directory until then); restore_header undoes it.
bool move_header_into_place(const MacBinOutput &output, std::string &restore_from, std::string &error) {
  const std::string header = apple_double_header_for(output.place.target);
  const std::string written_header = apple_double_header_for(output.temporary);
  const std::string kept = (std::filesystem::path(output.directory) / "older-header").string();
  if (link(header.c_str(), kept.c_str()) == 0) restore_from = kept;
  if (std::rename(written_header.c_str(), header.c_str()) == 0) return true;
  error = "cannot rename " + written_header + " into place: " + std::strerror(errno);
  return false;
}

void restore_header(const MacBinOutput &output, const std::string &restore_from) {
  const std::string header = apple_double_header_for(output.place.target);
  if (restore_from.empty() || std::rename(restore_from.c_str(), header.c_str()) != 0) unlink(header.c_str());
}

// Renames the writer's file (AppleDouble: both, the header first) over the
// output.
bool move_into_place(const MacBinOutput &output, std::string &error) {
  const std::string &written = output.temporary;
  if (!output.directory.empty() && chmod(written.c_str(), static_cast<mode_t>(output.place.mode)) != 0) {
    error = "cannot set the permissions of " + written + ": " + std::strerror(errno);
    return false;
  }
  const bool apple_double = output.kind == MACBIN_FORMAT_APPLEDOUBLE;
  std::string restore_from;
  if (apple_double && !move_header_into_place(output, restore_from, error)) return false;
  if (std::rename(written.c_str(), output.place.target.c_str()) != 0) {
    error = "cannot rename " + written + " into place: " + std::strerror(errno);
    const int reason = errno;
    if (apple_double) restore_header(output, restore_from);
    errno = reason;
    return false;
  }
  return true;
}

}  // namespace

MacBinOutput *open_output(const std::string &path, int32_t kind, std::string &error) {
  auto *output = new (std::nothrow) MacBinOutput;
  if (output == nullptr) {
    error = "out of memory";
    return nullptr;
  }
  output->path = path;
  output->kind = kind;
  if (prepare(*output, error)) return output;
  discard_output(output);
  return nullptr;
}

const std::string &output_temporary_path(const MacBinOutput &output) { return output.temporary; }
const std::string &output_path(const MacBinOutput &output) { return output.path; }
int32_t output_kind(const MacBinOutput &output) { return output.kind; }
bool output_written_into(const MacBinOutput &output) { return output.place.written_into; }

bool write_output_bytes(MacBinOutput &output, std::span<const uint8_t> bytes) {
  if (output.stream == nullptr || output.write_errno != 0) return false;
  if (bytes.empty()) return true;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), output.stream) == bytes.size()) return true;
  output.write_errno = errno != 0 ? errno : EIO;
  return false;
}

int output_write_errno(const MacBinOutput &output) { return output.write_errno; }

std::string output_write_error(const MacBinOutput &output) {
  return std::string("write error: ") + std::strerror(output.write_errno != 0 ? output.write_errno : EIO);
}

bool commit_output(MacBinOutput *output, std::string &error) {
  bool done = close_stream(*output, error);
  if (done && !output->temporary.empty()) {
    done = output->place.written_into ? copy_into(output->temporary, output->place, error)
                                      : move_into_place(*output, error);
    // Renamed: nothing is left to remove (a private directory is, empty).
    if (done && !output->place.written_into && output->directory.empty()) {
      release_temporary(output->slot);
      output->slot = -1;
      output->temporary.clear();
    }
  }
  discard_output(output);
  return done;
}

void discard_output(MacBinOutput *output) {
  if (output == nullptr) return;
  const int saved_errno = errno;  // a failure's reason outlives the cleanup
  if (output->stream != nullptr) std::fclose(output->stream);
  if (output->slot >= 0) {
    CleanupSignalsBlocked blocked;
    if (!output->directory.empty()) {
      std::error_code code;
      std::filesystem::remove_all(output->directory, code);
    } else {
      unlink(output->temporary.c_str());
    }
    release_temporary(output->slot);
  }
  delete output;
  errno = saved_errno;
}

}  // namespace varnel::output
