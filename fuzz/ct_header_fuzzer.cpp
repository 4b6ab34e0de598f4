// Arbitrary bytes as a CT file, through each icon builder.  The header is
// untrusted: no size in it may lead to a large allocation, a read outside a
// buffer or a partial icon.  Besides the sanitizers, each result is checked
// against the header: an icon is written whole (its exact size) or not at
// all.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tessel.h"
#include "fuzz_session.hpp"
#include "tessel/testing.h"
#include "varnel.h"

namespace {

// The session, the CT image each input becomes and the icon output.
struct Scratch {
  varnel_fuzz::Session session{"ct"};
  std::string ct_path = session.file("image.ct");
  std::string output_path = session.file("icon.out");
};

Scratch &scratch() {
  static Scratch instance;
  return instance;
}

int64_t read_le32(const uint8_t *p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) |
                              (static_cast<uint32_t>(p[3]) << 24));
}

// The icon size the header asks for, from the builder's bytes per row and
// mask; -1 when the image must be refused.
struct Shape {
  MacBinWriteHandler build;
  int64_t max_width;
  int64_t pixels_per_byte;
  bool has_mask;
};

int64_t expected_icon_size(const Shape &shape, const uint8_t *data, size_t size) {
  if (size < 512) return -1;
  if ((static_cast<uint32_t>(data[4]) | (static_cast<uint32_t>(data[5]) << 8)) > 1) return -1;
  const int64_t rows = read_le32(data + 32);
  const int64_t width = read_le32(data + 36);
  if (rows < 1 || rows > 255 || width < 1 || width > shape.max_width ||
      width % shape.pixels_per_byte != 0)
    return -1;
  const int64_t mask = !shape.has_mask ? 0 : (width == 16 ? 32 : 128);
  return rows * (width / shape.pixels_per_byte) + mask;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Scratch &files = scratch();
  FILE *ct = std::fopen(files.ct_path.c_str(), "wb");
  if (ct == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, ct) != size) std::abort();
  std::fclose(ct);

  const Shape shapes[] = {
      {CT_to_icon8, 255, 1, false},
      {CT_to_icon4, 254, 2, false},
      {CT_to_ICN, 248, 8, true},
  };
  for (const Shape &shape : shapes) {
    TesselFile *file = fopenw(fdbset(0, "STREAM,SEQUENTIAL"), files.output_path.c_str(), "", 0);
    if (file == nullptr) std::abort();
    outfile = file;
    const int32_t result = shape.build(nullptr, files.ct_path.c_str());
    const int64_t written = fgetp(file);
    outfile = nullptr;
    fdbfree(file);

    // Whole or nothing.  A result of 0 with a fitting header is a read error
    // (rows missing, data offset past the end).
    const int64_t expected = expected_icon_size(shape, data, size);
    if (result == 1 && written != expected) std::abort();
    if (result != 1 && written != 0) std::abort();
    if (result == 1 && expected < 0) std::abort();
  }
  return 0;
}
