// The C entries of the output layer: thin wrappers that turn a pointer and
// a length into a span, give the reason of a failure as the thread's last
// error (never through the message method: the host names the file in its
// own words), and let no exception out.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "frame/internal.hpp"
#include "output/internal.hpp"

namespace {

namespace output = varnel::output;

// The reason as it is: errno is cleared so that the record adds no other.
void keep_reason(int32_t code, const std::string &reason) {
  errno = 0;
  record_error(code, reason.c_str());
}

// The same, keeping `system_error` as the system's reason when the text
// names it (a refusal of the library's own, a socket say, has none).
void keep_system_reason(const std::string &reason, int system_error) {
  const bool named = system_error != 0 && reason.find(std::strerror(system_error)) != std::string::npos;
  errno = named ? system_error : 0;
  record_error(MACBIN_ERR_IO, reason.c_str());
  errno = system_error;
}

bool is_output_kind(int32_t kind) {
  switch (kind) {
    case MACBIN_OUTPUT_BYTES:
    case MACBIN_OUTPUT_FILE:
    case MACBIN_FORMAT_CLASSIC:
    case MACBIN_FORMAT_II:
    case MACBIN_FORMAT_APPLESINGLE:
    case MACBIN_FORMAT_APPLEDOUBLE:
    case MACBIN_FORMAT_BINHEX:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" {

MacBinOutput *MacBin_OpenOutput(const char *path, int32_t kind) {
  if (path == nullptr || path[0] == '\0') {
    keep_reason(MACBIN_ERR_ARGUMENT, "no output path given");
    return nullptr;
  }
  if (!is_output_kind(kind)) {
    keep_reason(MACBIN_ERR_ARGUMENT, "output kind " + std::to_string(kind) + " is none the library writes");
    return nullptr;
  }
  try {
    std::string error;
    errno = 0;
    MacBinOutput *made = output::open_output(path, kind, error);
    const int system_error = errno;
    if (made != nullptr) return made;
    if (error == "out of memory") {
      keep_reason(MACBIN_ERR_MEMORY, error);
    } else {
      keep_system_reason(error, system_error);
    }
    return nullptr;
  } catch (const std::bad_alloc &) {
    keep_reason(MACBIN_ERR_MEMORY, "out of memory");
    return nullptr;
  }
}

const char *MacBin_OutputPath(const MacBinOutput *out) {
  if (out == nullptr || output::output_kind(*out) == MACBIN_OUTPUT_BYTES) return nullptr;
  return output::output_temporary_path(*out).c_str();
}

int32_t MacBin_OutputWrittenInto(const MacBinOutput *out) {
  if (out == nullptr) return -1;
  return output::output_written_into(*out) ? 1 : 0;
}

int32_t MacBin_WriteOutput(MacBinOutput *out, const void *bytes, int32_t length) {
  if (out == nullptr || output::output_kind(*out) != MACBIN_OUTPUT_BYTES || length < 0 ||
      (bytes == nullptr && length > 0)) {
    keep_reason(MACBIN_ERR_ARGUMENT, "no bytes output, or no bytes");
    return 1;
  }
  const std::span<const uint8_t> span(static_cast<const uint8_t *>(bytes), static_cast<size_t>(length));
  if (output::write_output_bytes(*out, span)) return 0;
  try {
    const std::string reason = output::output_write_error(*out);
    keep_system_reason(reason, output::output_write_errno(*out));
  } catch (const std::bad_alloc &) {
    keep_reason(MACBIN_ERR_MEMORY, "out of memory");
  }
  return 1;
}

int32_t MacBin_CommitOutput(MacBinOutput *out) {
  if (out == nullptr) {
    keep_reason(MACBIN_ERR_ARGUMENT, "no output to commit");
    return 1;
  }
  try {
    std::string error;
    errno = 0;
    if (output::commit_output(out, error)) return 0;
    keep_system_reason(error, errno);
  } catch (const std::bad_alloc &) {
    output::discard_output(out);
    keep_reason(MACBIN_ERR_MEMORY, "out of memory");
  }
  return 1;
}

void MacBin_DiscardOutput(MacBinOutput *out) {
  try {
    output::discard_output(out);
  } catch (...) {
    // Nothing a host could do about it; the list still removes the rest.
  }
}

int32_t MacBin_SetStandardOutput(int32_t descriptor) {
  if (descriptor < 0) {
    keep_reason(MACBIN_ERR_ARGUMENT, "descriptor " + std::to_string(descriptor) + " is no descriptor");
    return 1;
  }
  output::set_standard_output(descriptor);
  return 0;
}

int32_t MacBin_MakeTemporaryFile(char *path_template) {
  if (path_template == nullptr) {
    keep_reason(MACBIN_ERR_ARGUMENT, "no name for the temporary file");
    return -1;
  }
  int fd = -1;
  {
    output::CleanupSignalsBlocked blocked;
    fd = mkostemp(path_template, O_CLOEXEC);
    if (fd < 0) {
      const int reason = errno;
      record_error(MACBIN_ERR_IO, "cannot make a temporary file");
      errno = reason;
      return -1;
    }
    if (output::hold_temporary(path_template, output::TemporaryKind::kFile) >= 0) return fd;
    close(fd);
    unlink(path_template);
  }
  keep_reason(MACBIN_ERR_LIMIT, "too many temporary files at once");
  errno = EMFILE;
  return -1;
}

int32_t MacBin_RemoveTemporaryFile(const char *path) {
  output::CleanupSignalsBlocked blocked;
  const int slot = output::find_temporary(path);
  if (slot < 0) {
    keep_reason(MACBIN_ERR_ARGUMENT, "not a temporary file the library holds");
    return 1;
  }
  const int removed = unlink(path);
  output::release_temporary(slot);
  if (removed == 0) return 0;
  record_error(MACBIN_ERR_IO, "cannot remove the temporary file");
  return 1;
}

void MacBin_RemoveTemporaries(void) {
  const int saved_errno = errno;
  output::remove_held_temporaries();
  errno = saved_errno;
}

}  // extern "C"
