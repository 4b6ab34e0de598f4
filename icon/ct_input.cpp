// CT image input: opens a single-channel CT file through the host utility
// library, checks its header and leaves it positioned at its first row.
//
// CT header as used here (512 bytes; the numeric fields of the first 128
// bytes are stored least significant byte first, and fxtox turns them into
// host values in place with the layout "828434228484": eight 16-bit fields,
// eight 32-bit, three 32-bit, two 16-bit, eight 32-bit, eight 32-bit):
//   offset  4  16-bit  channel count (0 or 1 for a mono image)
//   offset 32  32-bit  rows
//   offset 36  32-bit  pixels per row, one byte each
//   offset 68  32-bit  absolute file position of the first row
//
// Failures are printed to standard output (the BEL character rings the
// terminal, as users of these texts expect), never ended with errexit: a
// library must not end its host because a file or some memory is missing.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frame/internal.hpp"
#include "icon/internal.hpp"
#include "tessel.h"

namespace {

constexpr int kBel = 7;
constexpr size_t kCtHeaderSize = TESSEL_CT_HEADER_SIZE;
constexpr const char *kCtHeaderLayout = "828434228484";
constexpr uint16_t kMaxMonoChannels = 1;

// The one open image.  file is set from fdbset on; is_open once fopenr has
// opened it; reader once ct_finit has made it.
struct OpenCtImage {
  TesselFile *file = nullptr;
  bool is_open = false;
  TesselCtReader *reader = nullptr;
  std::array<uint8_t, kCtHeaderSize> header{};
  int32_t rows = 0;
  int32_t row_width = 0;
};

OpenCtImage current_image;

// A field of the converted header, in host order (fxtox has put it there).
template <typename Field>
Field header_field(size_t offset) {
  Field value;
  std::memcpy(&value, current_image.header.data() + offset, sizeof value);
  return value;
}

// open_CT's failure after the description exists: nothing stays open.
int32_t fail_open() {
  close_CT();
  return 0;
}

}  // namespace

bool fits_icon_limits(const IconSizeLimits &limits, int64_t rows, int64_t row_width) {
  return rows >= 1 && rows <= limits.max_rows && row_width >= 1 &&
         row_width <= limits.max_row_width && row_width % limits.row_width_multiple == 0;
}

int32_t open_CT(const char *path, const IconSizeLimits &limits) {
  if (path == nullptr) path = "";
  close_CT();  // one image at a time: whatever is left goes now
  if (trace_enabled(TRACE_MSG)) std::printf("MSG--> Opening CT-file %s\n", path);

  // errno is cleared before each call judged by it, so that a stale value
  // left by the host never passes for a failure.
  errno = 0;
  current_image.file = fdbset(0, "STREAM");
  if (current_image.file == nullptr || errno != 0) {
    std::printf("ERROR     initializing FDB %c\n", kBel);
    return fail_open();
  }

  errno = 0;
  if (fopenr(current_image.file, path, nullptr, 0) == nullptr || errno != 0) {
    std::printf("ERROR     opening CT: File %s not found %c\n", path, kBel);
    return fail_open();
  }
  current_image.is_open = true;

  if (fgetm(current_image.file, current_image.header.data(), kCtHeaderSize) == 0) {
    std::printf("ERROR     reading CT-fileheader from %s %c\n", path, kBel);
    return fail_open();
  }
  fxtox(current_image.header.data(), kCtHeaderLayout);

  if (header_field<uint16_t>(TESSEL_CT_CHANNELS_OFFSET) > kMaxMonoChannels) {
    std::printf("ERROR     File %s is not a mono CT-file %c\n", path, kBel);
    return fail_open();
  }

  // Checked before anything is sized by them: the row reader, the builder's
  // row buffer and its output.
  const int32_t rows = header_field<int32_t>(TESSEL_CT_ROWS_OFFSET);
  const int32_t row_width = header_field<int32_t>(TESSEL_CT_WIDTH_OFFSET);
  if (!fits_icon_limits(limits, rows, row_width)) {
    std::printf("ERROR     CT-file %s has %d rows of %d pixels; %s %c\n", path, rows, row_width,
                limits.accepted_sizes, kBel);
    return fail_open();
  }
  current_image.rows = rows;
  current_image.row_width = row_width;

  errno = 0;
  current_image.reader = ct_finit(current_image.file, row_width);
  if (current_image.reader == nullptr) {
    std::printf("ERROR     allocating working space (CT_finit) %c\n", kBel);
    return fail_open();
  }

  // The offset is an unsigned 32-bit position.  One past the end of the file
  // is no error here: the first row then fails to read, as a short file does.
  const uint32_t data_offset = header_field<uint32_t>(TESSEL_CT_DATA_OFFSET);
  errno = 0;
  if (fputp(current_image.file, data_offset) < 0 || errno != 0) {
    std::printf("ERROR     File-data corrupted %c\n", kBel);
    return fail_open();
  }
  return 1;
}

int32_t CT_row_count() { return current_image.rows; }

int32_t CT_row_width() { return current_image.row_width; }

bool read_CT_row(std::span<uint8_t> row) {
  if (current_image.reader == nullptr || row.size() != static_cast<size_t>(current_image.row_width))
    return false;
  errno = 0;
  const int32_t result =
      ct_fgetrow(current_image.reader, row.data(), static_cast<int32_t>(row.size()));
  return result == 0 && errno == 0;
}

void close_CT() {
  const int saved_errno = errno;
  if (current_image.reader != nullptr) ct_free(current_image.reader);
  if (current_image.file != nullptr) {
    if (current_image.is_open) fclosx(current_image.file);
    fdbfree(current_image.file);
  }
  current_image = OpenCtImage{};
  errno = saved_errno;
}
