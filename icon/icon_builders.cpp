// Icon builders: write handlers that turn a single-channel CT image into the
// data of an icon resource.  Pixels are used as they stand (no scaling, no
// colour conversion):
//   CT_to_icon8  one byte per pixel, unchanged (icl8, ics8)
//   CT_to_icon4  two pixels per byte, each pixel's high nibble, left pixel in
//                bits 7-4 (icl4, ics4)
//   CT_to_ICN    eight pixels per byte, leftmost in bit 7, 1 = non-zero
//                pixel; then a fully set mask: 32 bytes for a 16-pixel-wide
//                image, 128 bytes for any other (ICN#, ics#)
//
// The whole icon is collected before a byte of it is written: a read error
// part-way must leave no truncated icon in the file.  With nothing written,
// the insertion reports the resource as not inserted.
//
// Results: 1 = the icon was written, 0 = it was not (the reason has been
// printed to standard output).
#include <array>
#include <cerrno>
#include <cstdio>
#include <new>
#include <span>
#include <vector>

#include "icon/internal.hpp"
#include "varnel.h"

namespace {

constexpr int kBel = 7;

// Sizes each builder accepts: at most 255 rows of at most 255 pixels, each
// row filling whole bytes of the builder's output.  Icons are 16 or 32 pixels
// square; the bounds leave room for others and keep one icon under 64 KiB.
constexpr IconSizeLimits kIcon8Limits{255, 255, 1,
                                      "an 8-bit icon takes 1 to 255 rows of 1 to 255 pixels"};
constexpr IconSizeLimits kIcon4Limits{
    255, 254, 2, "a 4-bit icon takes 1 to 255 rows of 2 to 254 pixels, an even number"};
constexpr IconSizeLimits kIcnLimits{
    255, 248, 8, "a 1-bit icon takes 1 to 255 rows of 8 to 248 pixels, a multiple of 8"};
constexpr size_t kMaxRowWidth = 255;  // the widest row any of the limits accepts

constexpr int32_t kSmallIconWidth = 16;
constexpr size_t kSmallMaskBytes = 32;   // 16 rows of 16 bits
constexpr size_t kLargeMaskBytes = 128;  // 32 rows of 32 bits

using RowConverter = void (*)(std::span<const uint8_t> row, std::vector<uint8_t> &icon);

struct IconFormat {
  const IconSizeLimits &limits;
  RowConverter convert_row;
  void (*print_read_error)();
  bool has_mask;
};

void convert_row_to_icon8(std::span<const uint8_t> row, std::vector<uint8_t> &icon) {
  icon.insert(icon.end(), row.begin(), row.end());
}

void convert_row_to_icon4(std::span<const uint8_t> row, std::vector<uint8_t> &icon) {
  for (size_t c = 0; c + 1 < row.size(); c += 2)  // the width is even
    icon.push_back(static_cast<uint8_t>((row[c] & 0xF0) | (row[c + 1] >> 4)));
}

void convert_row_to_ICN(std::span<const uint8_t> row, std::vector<uint8_t> &icon) {
  for (size_t c = 0; c + 8 <= row.size(); c += 8) {  // the width is a multiple of 8
    uint8_t bits = 0;
    for (size_t k = 0; k < 8; ++k)
      if (row[c + k] != 0) bits = static_cast<uint8_t>(bits | (0x80U >> k));
    icon.push_back(bits);
  }
}

// The read-error texts differ in their blanks; hosts compare them as they stand.
void print_icon8_read_error() { std::printf("ERROR     reading CT-data %c \n", kBel); }
void print_icon4_read_error() { std::printf("ERROR reading CT-data %c \n", kBel); }
void print_ICN_read_error() { std::printf("ERROR reading CT-data %c \n", kBel); }

// Releases the open image on every way out of build_icon.
struct CtImageReleaser {
  CtImageReleaser() = default;
  CtImageReleaser(const CtImageReleaser &) = delete;
  CtImageReleaser &operator=(const CtImageReleaser &) = delete;
  ~CtImageReleaser() { close_CT(); }
};

int32_t build_icon(const char *path, const IconFormat &format) {
  if (open_CT(path, format.limits) == 0) return 0;
  const CtImageReleaser releaser;

  const int32_t rows = CT_row_count();
  const size_t row_width = static_cast<size_t>(CT_row_width());  // 1 to kMaxRowWidth
  std::array<uint8_t, kMaxRowWidth> row_buffer{};
  const std::span<uint8_t> row(row_buffer.data(), row_width);
  const size_t mask_bytes =
      !format.has_mask ? 0
                       : (CT_row_width() == kSmallIconWidth ? kSmallMaskBytes : kLargeMaskBytes);

  std::vector<uint8_t> icon;
  icon.reserve(static_cast<size_t>(rows) * row_width + mask_bytes);  // at most 255 x 255
  for (int32_t r = 0; r < rows; ++r) {
    if (!read_CT_row(row)) {
      format.print_read_error();
      return 0;
    }
    format.convert_row(row, icon);
  }
  icon.insert(icon.end(), mask_bytes, 0xFF);

  close_CT();
  // The output primitives take any errno as a failed write: leave none.
  errno = 0;
  const auto length = static_cast<int32_t>(icon.size());
  return MacBin_PutBuf(icon.data(), length, length) == 0 ? 1 : 0;
}

// No exception leaves a write handler: the host called it through C.
int32_t build_icon_safely(const char *path, const IconFormat &format) noexcept {
  try {
    return build_icon(path, format);
  } catch (const std::bad_alloc &) {
    std::printf("ERROR     allocating memory %c\n", kBel);
  } catch (...) {
    std::printf("ERROR     converting CT-file %s %c\n", path != nullptr ? path : "", kBel);
  }
  close_CT();  // in case the failure came while the image was being opened
  return 0;
}

constexpr IconFormat kIcon8{kIcon8Limits, convert_row_to_icon8, print_icon8_read_error, false};
constexpr IconFormat kIcon4{kIcon4Limits, convert_row_to_icon4, print_icon4_read_error, false};
constexpr IconFormat kIcn{kIcnLimits, convert_row_to_ICN, print_ICN_read_error, true};

}  // namespace

extern "C" {

int32_t CT_to_icon8(MacBinChannel * /*channel*/, const char *path) {
  return build_icon_safely(path, kIcon8);
}

int32_t CT_to_icon4(MacBinChannel * /*channel*/, const char *path) {
  return build_icon_safely(path, kIcon4);
}

int32_t CT_to_ICN(MacBinChannel * /*channel*/, const char *path) {
  return build_icon_safely(path, kIcn);
}

}  // extern "C"
