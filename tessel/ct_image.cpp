// CT images: the row reader over a buffered file, and a small writer of the
// format described in tessel.h.
//
// Header (512 bytes, numeric fields least significant byte first):
//   offset  4: channel count, 16-bit
//   offset 32: row count, 32-bit
//   offset 36: row width in pixels, 32-bit
//   offset 68: data offset, 32-bit (512 from tessel_write_ct)
// then the rows, width x channels bytes each, no padding.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "tessel.h"

struct TesselCtReader {
  TesselFile *file;  // not owned
  int32_t width;     // samples per row, as the caller gave it
};

namespace {

void put_le16(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void put_le32(uint8_t *p, uint32_t v) {
  put_le16(p, v);
  put_le16(p + 2, v >> 16);
}

struct FileReleaser {
  void operator()(TesselFile *file) const {
    const int saved = errno;
    fdbfree(file);
    errno = saved;
  }
};

}  // namespace

extern "C" {

TesselCtReader *ct_finit(TesselFile *file, int32_t width) {
  auto *reader = new (std::nothrow) TesselCtReader{file, width};
  if (reader == nullptr) errno = ENOMEM;
  return reader;
}

int32_t ct_fgetrow(TesselCtReader *reader, void *buffer, int32_t count) {
  if (reader == nullptr || (buffer == nullptr && count > 0)) {
    errno = EINVAL;
    return -1;
  }
  if (count <= 0) return 0;
  if (fgetm(reader->file, buffer, count) == 1) return 0;
  if (errno == 0) errno = EIO;  // fgetm sets EIO for a file that ends early
  return -1;
}

void ct_free(TesselCtReader *reader) { delete reader; }

int32_t tessel_write_ct(const char *path, const uint8_t *pixels, int32_t width, int32_t rows,
                        int32_t channels) {
  if (path == nullptr || width < 0 || rows < 0 || channels < 1 || channels > 0xFFFF) {
    errno = EINVAL;
    return -1;
  }
  const int64_t row_bytes = static_cast<int64_t>(width) * channels;
  const int64_t data_bytes = row_bytes * rows;  // < 2^31 * 2^16 * 2^31: fits in 64 bits
  if (pixels == nullptr && data_bytes > 0) {
    errno = EINVAL;
    return -1;
  }
  uint8_t header[TESSEL_CT_HEADER_SIZE] = {};
  put_le16(header + TESSEL_CT_CHANNELS_OFFSET, static_cast<uint32_t>(channels));
  put_le32(header + TESSEL_CT_ROWS_OFFSET, static_cast<uint32_t>(rows));
  put_le32(header + TESSEL_CT_WIDTH_OFFSET, static_cast<uint32_t>(width));
  put_le32(header + TESSEL_CT_DATA_OFFSET, TESSEL_CT_HEADER_SIZE);

  std::unique_ptr<TesselFile, FileReleaser> description(fdbset(0, "STREAM,SEQUENTIAL"));
  if (!description) return -1;
  TesselFile *file = fopenw(description.get(), path, "", 0);
  if (file == nullptr) return -1;
  if (fputm(file, header, sizeof header) != 0 || fputm(file, pixels, data_bytes) != 0) {
    const int saved = errno;
    fcldelete(file);  // no half-written image is left behind
    errno = saved;
    return -1;
  }
  if (fclosx(file) != 0) {
    const int saved = errno;
    ::unlink(path);
    errno = saved;
    return -1;
  }
  return 0;
}

}  // extern "C"
