// PNG input through libpng.  libpng reports errors by longjmp, so every call
// that may fail sits in a small function of its own whose frame holds no
// C++ object with a destructor; the error text is stored by the error
// callback before it jumps.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "imagefile/internal.hpp"

namespace varnel::imagefile {
namespace {

class PngReader final : public ImageRows {
 public:
  PngReader() = default;
  ~PngReader() override {
    if (png_ != nullptr) png_destroy_read_struct(&png_, &info_ptr_, nullptr);
  }
  PngReader(const PngReader &) = delete;
  PngReader &operator=(const PngReader &) = delete;

  bool open(FILE *file) {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, on_error, on_warning);
    if (png_ == nullptr) return fail("out of memory");
    info_ptr_ = png_create_info_struct(png_);
    if (info_ptr_ == nullptr) return fail("out of memory");
    // Bound what a hostile header can make libpng allocate.
    png_set_user_limits(png_, kMaxImageSidePixels, kMaxImageSidePixels);
    png_set_chunk_malloc_max(png_, kMaxPngChunkBytes);
    png_init_io(png_, file);
    if (!read_header()) return false;
    return describe();
  }

  bool read_row(std::span<uint8_t> row) override {
    if (rows_read_ >= info_.height) return fail("read past the last row");
    const size_t row_bytes = static_cast<size_t>(info_.width) * static_cast<size_t>(info_.channels);
    if (row.size() < row_bytes) return fail("row buffer too small");
    if (interlaced_) {
      if (whole_image_.empty() && !read_whole_image()) return false;
      std::memcpy(row.data(), whole_image_.data() + static_cast<size_t>(rows_read_) * row_bytes, row_bytes);
    } else if (!read_one_row(row.data())) {
      return false;
    }
    ++rows_read_;
    return true;
  }

 private:
  static void on_error(png_structp png, png_const_charp message) {
    auto *self = static_cast<PngReader *>(png_get_error_ptr(png));
    // Nothing may be thrown through libpng's C frames.
    try {
      self->error_ = message != nullptr ? message : "damaged PNG data";
    } catch (...) {
      self->error_.clear();
    }
    png_longjmp(png, 1);
  }
  static void on_warning(png_structp, png_const_charp) {}

  bool read_header() {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_read_info(png_, info_ptr_);
    const png_byte colour_type = png_get_color_type(png_, info_ptr_);
    const png_byte bit_depth = png_get_bit_depth(png_, info_ptr_);
    const bool transparency = png_get_valid(png_, info_ptr_, PNG_INFO_tRNS) != 0;
    one_bit_ = bit_depth == 1 && colour_type == PNG_COLOR_TYPE_GRAY && !transparency;
    if (bit_depth == 16) png_set_scale_16(png_);
    if (colour_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png_);
    if (colour_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png_);
    if (transparency) png_set_tRNS_to_alpha(png_);
    interlaced_ = png_set_interlace_handling(png_) > 1;
    png_read_update_info(png_, info_ptr_);
    return true;
  }

  bool describe() {
    info_.format = "PNG";
    info_.width = static_cast<int32_t>(png_get_image_width(png_, info_ptr_));
    info_.height = static_cast<int32_t>(png_get_image_height(png_, info_ptr_));
    info_.channels = png_get_channels(png_, info_ptr_);
    info_.one_bit = one_bit_;
    if (png_get_bit_depth(png_, info_ptr_) != 8 || info_.channels < 1 || info_.channels > 4)
      return fail("unsupported PNG sample layout");
    png_uint_32 x_per_unit = 0;
    png_uint_32 y_per_unit = 0;
    int unit = 0;
    if (png_get_pHYs(png_, info_ptr_, &x_per_unit, &y_per_unit, &unit) != 0 && unit == PNG_RESOLUTION_METER &&
        x_per_unit > 0 && y_per_unit > 0) {
      info_.pixels_per_inch_x = x_per_unit * 0.0254;
      info_.pixels_per_inch_y = y_per_unit * 0.0254;
      info_.physical_size_known = true;
    }
    if (interlaced_) {
      const uint64_t bytes = static_cast<uint64_t>(info_.width) * static_cast<uint64_t>(info_.height) *
                             static_cast<uint64_t>(info_.channels);
      if (bytes > kMaxInterlacedImageBytes) return fail("interlaced PNG too large to decode");
    }
    return true;
  }

  bool read_one_row(uint8_t *row) {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_read_row(png_, row, nullptr);
    return true;
  }

  bool read_whole_image() {
    const size_t row_bytes = static_cast<size_t>(info_.width) * static_cast<size_t>(info_.channels);
    whole_image_.assign(row_bytes * static_cast<size_t>(info_.height), 0);
    row_pointers_.resize(static_cast<size_t>(info_.height));
    for (size_t y = 0; y < row_pointers_.size(); ++y) row_pointers_[y] = whole_image_.data() + y * row_bytes;
    return read_all_rows();
  }

  bool read_all_rows() {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_read_image(png_, row_pointers_.data());
    return true;
  }

  png_structp png_ = nullptr;
  png_infop info_ptr_ = nullptr;
  bool interlaced_ = false;
  bool one_bit_ = false;
  int32_t rows_read_ = 0;
  std::vector<uint8_t> whole_image_;
  std::vector<png_bytep> row_pointers_;
};

}  // namespace

std::unique_ptr<ImageRows> open_png_rows(FILE *file, std::string &error) {
  auto reader = std::make_unique<PngReader>();
  if (!reader->open(file)) {
    error = "damaged PNG file: " + reader->error();
    return nullptr;
  }
  return reader;
}

}  // namespace varnel::imagefile
