#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "support/support.hpp"

namespace vt {

Bytes read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void write_text(const std::string &path, std::string_view text) {
  write_file(path, bytes_of(text));
}

bool file_exists(const std::string &path) { return std::filesystem::exists(path); }

std::string source_dir() {
  const char *v = std::getenv("VARNEL_SOURCE_DIR");
  return v ? v : VARNEL_DEFAULT_SOURCE_DIR;
}

std::string binary_dir() {
  const char *v = std::getenv("VARNEL_BINARY_DIR");
  return v ? v : VARNEL_DEFAULT_BINARY_DIR;
}

}  // namespace vt
