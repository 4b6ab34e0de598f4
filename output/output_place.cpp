// Where an output for a path goes, decided before anything is made.
//
// A regular file (or none yet) is replaced: the output is made under a
// temporary name beside it and renamed over it when complete.  When the
// name is a symbolic link, the file it leads to is replaced, not the link.
//
// Anything else that can be opened for writing (a character or block
// device, a FIFO, or an open descriptor named as /dev/stdout, /dev/fd/N or
// /proc/self/fd/N) is written into, never renamed over or removed: renaming
// over /dev/null would put a plain file in its place, and /dev/stdout names
// descriptor 1, which a host may point elsewhere (MacBin_SetStandardOutput).
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "frame/internal.hpp"
#include "output/internal.hpp"

namespace varnel::output {
namespace {

// Links followed before giving up, as the kernel does (ELOOP).
constexpr int kMaxLinkDepth = 40;
// ".NAME.XXXXXX" around NAME.
constexpr size_t kTemporaryNameExtra = 8;
// The pieces a finished temporary file is copied in.
constexpr size_t kCopyBlockBytes = 1 << 16;
// Longest digit string taken as a descriptor number.
constexpr size_t kMaxDescriptorDigits = 9;

// Set by MacBin_SetStandardOutput; read when an output names descriptor 1.
std::atomic<int> standard_output_descriptor{STDOUT_FILENO};

// MacBin_Reset: descriptor 1 stands for standard output again.
void reset_standard_output() { standard_output_descriptor = STDOUT_FILENO; }
ResetStep standard_output_reset{reset_standard_output, nullptr};
const bool standard_output_reset_registered = register_reset_step(standard_output_reset);

mode_t mode_of_a_new_file() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// N when `path` names an open descriptor of this process (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N, /proc/PID/fd/N with our PID), else -1.
// Judged by the name: following these links would lead to whatever the
// descriptor has become in this process, not what the user meant.
int descriptor_named_by(const std::string &path) {
  std::error_code code;
  const std::string normal = std::filesystem::absolute(path, code).lexically_normal().string();
  if (code) return -1;
  if (normal == "/dev/stdin") return STDIN_FILENO;
  if (normal == "/dev/stdout") return STDOUT_FILENO;
  if (normal == "/dev/stderr") return STDERR_FILENO;
  const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
  for (const std::string &prefix :
       {std::string("/dev/fd/"), std::string("/proc/self/fd/"), std::string("/proc/thread-self/fd/"), own}) {
    if (!normal.starts_with(prefix)) continue;
    const std::string digits = normal.substr(prefix.size());
    if (digits.empty() || digits.size() > kMaxDescriptorDigits ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return -1;
    return std::atoi(digits.c_str());
  }
  return -1;
}

// The file that writing to `path` reaches: `path` itself, or for a
// symbolic link (a chain of them) the file it leads to, which need not
// exist yet; or the descriptor a name in the chain stands for.
bool resolve_output_target(const std::string &path, OutputPlace &place, std::string &error) {
  std::string current = path;
  for (int depth = 0; depth <= kMaxLinkDepth; ++depth) {
    place.target = current;
    place.descriptor = descriptor_named_by(current);
    struct stat status {};
    if (place.descriptor >= 0 || lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return true;
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

// What an existing non-regular file is, for reasons; null for what cannot
// be written into at all.
const char *kind_of(mode_t mode) {
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a FIFO";
  return nullptr;
}

size_t longest_name_in(const std::string &directory) {
  const long limit = pathconf(directory.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<size_t>(limit) : NAME_MAX;
}

void set_temporary(OutputPlace &place, const std::filesystem::path &pattern) {
  const std::string text = pattern.string();
  place.temporary.assign(text.begin(), text.end());
  place.temporary.push_back('\0');
}

// Where the temporary name goes: beside a replaced file, so that a rename
// puts it in place; in $TMPDIR for an output written into, whose
// directory (/dev) may take no new files.
bool plan_temporary(OutputPlace &place, std::string &error) {
  if (place.written_into) {
    std::error_code code;
    const std::filesystem::path directory = std::filesystem::temp_directory_path(code);
    if (code) {
      error = "no temporary directory for the output: " + code.message();
      return false;
    }
    place.name_max = longest_name_in(directory.string());
    set_temporary(place, directory / "varnel-output-XXXXXX");
    return true;
  }
  const std::filesystem::path target(place.target);
  const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";
  place.name_max = longest_name_in(directory.string());
  const size_t room = place.name_max > kTemporaryNameExtra ? place.name_max - kTemporaryNameExtra : 1;
  set_temporary(place, directory / ("." + utf8_prefix(target.filename().string(), room) + ".XXXXXX"));
  return true;
}

// Whether what exists at the target can take an output; sets the mode and
// the kind of what is written into.
bool judge_existing(const struct stat &existing, OutputPlace &place, std::string &error) {
  if (S_ISDIR(existing.st_mode)) {
    error = std::strerror(EISDIR);
    return false;
  }
  if (S_ISSOCK(existing.st_mode)) {
    error = "it is a socket, which cannot be written as a file";
    return false;
  }
  // The permission bits stay; set-user and set-group bits do not carry
  // over to contents someone else wrote.
  if (S_ISREG(existing.st_mode)) place.mode = existing.st_mode & 0777;
  const char *kind = kind_of(existing.st_mode);
  place.written_into = kind != nullptr;
  if (kind != nullptr) place.kind = kind;
  return true;
}

}  // namespace

std::string utf8_prefix(const std::string &text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

bool plan_output(const std::string &path, OutputPlace &place, std::string &error) {
  place = OutputPlace{};
  if (!resolve_output_target(path, place, error)) return false;
  place.mode = mode_of_a_new_file();
  struct stat existing {};
  if (place.descriptor >= 0) {
    place.written_into = true;
    place.kind = place.descriptor == STDOUT_FILENO ? "standard output" : "an open descriptor";
  } else if (stat(place.target.c_str(), &existing) == 0 && !judge_existing(existing, place, error)) {
    return false;
  }
  return plan_temporary(place, error);
}

void set_standard_output(int descriptor) { standard_output_descriptor = descriptor; }

FILE *open_written_into(const OutputPlace &place, std::string &error) {
  int fd = -1;
  if (place.descriptor >= 0) {
    const int descriptor = place.descriptor == STDOUT_FILENO ? standard_output_descriptor.load() : place.descriptor;
    fd = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  } else {
    fd = open(place.target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  }
  FILE *stream = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (stream == nullptr) {
    error = std::strerror(errno);
    if (fd >= 0) close(fd);
  }
  return stream;
}

bool close_written_into(FILE *stream, int write_errno, std::string &error) {
  const bool write_failed = std::ferror(stream) != 0;
  errno = 0;
  const int close_result = std::fclose(stream);
  const int close_errno = errno;
  if (!write_failed && close_result == 0) return true;
  const int reason = write_errno != 0 ? write_errno : close_errno != 0 ? close_errno : EIO;
  error = std::string("write error: ") + std::strerror(reason);
  errno = reason;  // for the caller's record
  return false;
}

bool copy_into(const std::string &from, const OutputPlace &place, std::string &error) {
  const std::unique_ptr<FILE, int (*)(FILE *)> source(std::fopen(from.c_str(), "rbe"), std::fclose);
  if (source == nullptr) {
    error = "cannot read " + from + ": " + std::strerror(errno);
    return false;
  }
  FILE *target = open_written_into(place, error);
  if (target == nullptr) {
    error = "cannot open: " + error;
    return false;
  }
  std::vector<char> block(kCopyBlockBytes);
  int write_errno = 0;
  for (size_t count = 0; write_errno == 0 && (count = std::fread(block.data(), 1, block.size(), source.get())) > 0;) {
    errno = 0;
    if (std::fwrite(block.data(), 1, count, target) != count) write_errno = errno != 0 ? errno : EIO;
  }
  if (write_errno == 0 && std::ferror(source.get()) != 0) {
    error = "cannot read " + from + ": " + std::strerror(errno != 0 ? errno : EIO);
    std::fclose(target);
    return false;
  }
  return close_written_into(target, write_errno, error);
}

}  // namespace varnel::output
