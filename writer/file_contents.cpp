// A resource whose bytes are a file's contents: the processor that a host
// registers under "****" so that every type without a processor of its own
// ("TEXT 128 notes.txt") takes a file named on its line.  The file is read
// whole before a byte is written, so that a read error leaves no resource
// made of part of the file.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

namespace {

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};

// A file that cannot become the resource: the reason and its code.
struct FileRefusal {
  int32_t code;
  std::string reason;
};

// The whole file `name` (from the image directory), or a refusal naming it
// as the line gave it.
std::vector<uint8_t> file_bytes(const std::string &name, FileRefusal &refusal) {
  const std::string path = image_path(name);
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    refusal = {MACBIN_ERR_IO, name + ": no such file"};
    return {};
  }
  const auto size = static_cast<uint64_t>(status.st_size);
  if (size > MACBIN_MAX_DATA_OFFSET) {
    refusal = {MACBIN_ERR_LIMIT, name + ": " + std::to_string(size) + " bytes; resource data is limited to " +
                                     std::to_string(MACBIN_MAX_DATA_OFFSET) + " bytes"};
    return {};
  }
  if (size == 0) {
    refusal = {MACBIN_ERR_ARGUMENT, name + ": the file is empty, and a resource needs at least one byte"};
    return {};
  }
  const std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    refusal = {MACBIN_ERR_IO, name + ": cannot open: " + std::strerror(errno)};
    return {};
  }
  // One byte more than the size: a file that grew since is not taken cut short.
  std::vector<uint8_t> bytes(static_cast<size_t>(size) + 1);  // at most 16 MiB, checked above
  const size_t count = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get()) != 0 || count != size) {
    refusal = {MACBIN_ERR_IO, name + ": read error"};
    return {};
  }
  bytes.resize(count);
  return bytes;
}

int32_t add_file_data(MacBinChannel *channel, const char *param) {
  const std::string name(trim_blanks(param != nullptr ? param : ""));
  FileRefusal refusal{};
  std::vector<uint8_t> bytes;
  if (name.empty()) {
    const std::string type(channel->cur_type, ::strnlen(channel->cur_type, 4));
    refusal = {MACBIN_ERR_ARGUMENT, type + " needs a file whose contents become the resource"};
  } else {
    bytes = file_bytes(name, refusal);
  }
  if (bytes.empty()) {
    report(refusal.reason.c_str(), MACBIN_ERROR, refusal.code);
    return 0;
  }
  outfile = channel->file;
  const auto length = static_cast<int32_t>(bytes.size());
  return MacBin_PutBuf(bytes.data(), length, length) == 0 ? 1 : 0;
}

}  // namespace

extern "C" int32_t MacBin_Add_FileData(MacBinChannel *channel, const char *param) {
  if (channel == nullptr || channel->file == nullptr) return 0;
  try {
    return add_file_data(channel, param);
  } catch (const std::bad_alloc &) {
    report("Out Of Memory (reading a resource's file)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
    return 0;
  }
}
