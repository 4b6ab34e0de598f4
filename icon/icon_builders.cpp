// Icon builders: write handlers that turn a single-channel CT image into the
// data of an icon resource.  Pixels are used as they stand (no scaling, no
// colour conversion):
//   CT_to_icon8  one byte per pixel, unchanged (icl8, ics8)
//   CT_to_icon4  two pixels per byte, each pixel's high nibble, left pixel in
//                bits 7-4 (icl4, ics4)
//   CT_to_ICN    eight pixels per byte, leftmost in bit 7, 1 = non-zero
//                pixel; then a fully set mask: 32 bytes for a 16-pixel-wide
//                image, 128 bytes for any other (ICN#, ics#)
//   CT_to_ICN_masked  the same bits, then a mask of as many bytes made the
//                same way from a second image of the same size
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
#include "icon/rgba_encoding.hpp"
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

// Each converter turns a row of CT samples into palette indices and packs
// them as the RGBA encoders pack theirs: one packer per depth.
void convert_row_to_icon8(std::span<const uint8_t> row, std::vector<uint8_t> &icon) {
  varnel::icon::pack_row(row, 8, icon);
}

void convert_row_to_icon4(std::span<const uint8_t> row, std::vector<uint8_t> &icon) {
  std::array<uint8_t, kMaxRowWidth> indices{};
  for (size_t c = 0; c < row.size(); ++c) indices[c] = static_cast<uint8_t>(row[c] >> 4);
  varnel::icon::pack_row(std::span<const uint8_t>(indices.data(), row.size()), 4, icon);  // the width is even
}

void convert_row_to_ICN(std::span<const uint8_t> row, std::vector<uint8_t> &icon) {
  std::array<uint8_t, kMaxRowWidth> bits{};
  for (size_t c = 0; c < row.size(); ++c) bits[c] = row[c] != 0 ? 1 : 0;
  varnel::icon::pack_row(std::span<const uint8_t>(bits.data(), row.size()), 1, icon);  // a multiple of 8
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

// Reads every row of the open image through `convert` into `out`; false
// after calling `print_read_error` when a row cannot be read.
template <typename PrintReadError>
bool convert_rows(RowConverter convert, PrintReadError print_read_error,
                  std::vector<uint8_t> &out) {
  const int32_t rows = CT_row_count();
  const size_t row_width = static_cast<size_t>(CT_row_width());  // 1 to kMaxRowWidth
  std::array<uint8_t, kMaxRowWidth> row_buffer{};
  const std::span<uint8_t> row(row_buffer.data(), row_width);
  out.reserve(out.size() + static_cast<size_t>(rows) * row_width);  // at most 255 x 255
  for (int32_t r = 0; r < rows; ++r) {
    if (!read_CT_row(row)) {
      print_read_error();
      return false;
    }
    convert(row, out);
  }
  return true;
}

// Writes the collected icon as the resource's data.
int32_t write_icon(const std::vector<uint8_t> &icon) {
  close_CT();
  // The output primitives take any errno as a failed write: leave none.
  errno = 0;
  const auto length = static_cast<int32_t>(icon.size());
  return MacBin_PutBuf(icon.data(), length, length) == 0 ? 1 : 0;
}

int32_t build_icon(const char *path, const IconFormat &format) {
  if (open_CT(path, format.limits) == 0) return 0;
  const CtImageReleaser releaser;
  const size_t mask_bytes =
      !format.has_mask ? 0
                       : (CT_row_width() == kSmallIconWidth ? kSmallMaskBytes : kLargeMaskBytes);
  std::vector<uint8_t> icon;
  if (!convert_rows(format.convert_row, format.print_read_error, icon)) return 0;
  icon.insert(icon.end(), mask_bytes, 0xFF);
  return write_icon(icon);
}

// ICN#/ics# data with the mask from a second image: the icon's bits, then
// the mask's bits, each as CT_to_ICN makes the icon's (a non-zero pixel
// sets its bit), so that the mask covers exactly the image.
int32_t build_masked_ICN(const char *path, const char *mask_path) {
  if (open_CT(path, kIcnLimits) == 0) return 0;
  const CtImageReleaser releaser;
  const int32_t rows = CT_row_count();
  const int32_t width = CT_row_width();
  std::vector<uint8_t> icon;
  if (!convert_rows(convert_row_to_ICN, print_ICN_read_error, icon)) return 0;

  // One image is open at a time: the icon's goes before the mask's opens.
  close_CT();
  if (open_CT(mask_path, kIcnLimits) == 0) return 0;
  if (CT_row_count() != rows || CT_row_width() != width) {
    std::printf("ERROR     CT-mask %s has %d rows of %d pixels; the icon %s has %d rows of %d %c\n",
                mask_path, CT_row_count(), CT_row_width(), path, rows, width, kBel);
    return 0;
  }
  const auto print_mask_read_error = [mask_path] {
    std::printf("ERROR     reading CT-mask data from %s %c\n", mask_path, kBel);
  };
  if (!convert_rows(convert_row_to_ICN, print_mask_read_error, icon)) return 0;
  return write_icon(icon);
}

// No exception leaves a builder: the host called it through C.
template <typename Build>
int32_t build_safely(const char *path, Build build) noexcept {
  try {
    return build();
  } catch (const std::bad_alloc &) {
    std::printf("ERROR     allocating memory %c\n", kBel);
  } catch (...) {
    std::printf("ERROR     converting CT-file %s %c\n", path != nullptr ? path : "", kBel);
  }
  close_CT();  // in case the failure came while the image was being opened
  return 0;
}

int32_t build_icon_safely(const char *path, const IconFormat &format) noexcept {
  return build_safely(path, [&] { return build_icon(path, format); });
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

int32_t CT_to_ICN_masked(MacBinChannel *channel, const char *path, const char *mask_path) {
  if (mask_path == nullptr || mask_path[0] == '\0') return CT_to_ICN(channel, path);
  if (path == nullptr) path = "";
  return build_safely(path, [&] { return build_masked_ICN(path, mask_path); });
}

}  // extern "C"
