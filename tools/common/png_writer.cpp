// libpng reports errors by longjmp: each call that may fail sits in its own
// small function whose frame holds no object with a destructor.
#include "common/png_writer.hpp"

#include <png.h>

#include <csetjmp>
#include <vector>

namespace varnel_tool {
namespace {

// PNG's rule for keywords: 1 to 79 printable Latin-1 characters, spaces
// neither leading, trailing nor doubled.  libpng would stop the whole
// image with an error of its own on a bad one.
bool is_valid_keyword(const std::string &keyword) {
  if (keyword.empty() || keyword.size() > 79 || keyword.front() == ' ' || keyword.back() == ' ') return false;
  for (size_t i = 0; i < keyword.size(); ++i) {
    const auto byte = static_cast<unsigned char>(keyword[i]);
    if (byte < 32 || (byte > 126 && byte < 161)) return false;
    if (byte == ' ' && keyword[i - 1] == ' ') return false;
  }
  return true;
}

}  // namespace

void PngWriter::on_error(png_structp png, png_const_charp message) {
  auto *self = static_cast<PngWriter *>(png_get_error_ptr(png));
  self->error_ = message != nullptr ? message : "PNG output failed";
  png_longjmp(png, 1);
}

PngWriter::~PngWriter() {
  if (png_ != nullptr) png_destroy_write_struct(&png_, &info_);
}

void PngWriter::add_text(std::string keyword, std::string text) {
  texts_.emplace_back(std::move(keyword), std::move(text));
}

bool PngWriter::start(int32_t width, int32_t height, int32_t channels) {
  if (png_ != nullptr || width <= 0 || height <= 0 || (channels != 3 && channels != 4)) {
    error_ = "bad image size";
    return false;
  }
  // libpng copies the texts when they are set; these records only point
  // into texts_ until then.
  std::vector<png_text> records(texts_.size());
  for (size_t i = 0; i < texts_.size(); ++i) {
    if (!is_valid_keyword(texts_[i].first)) {
      error_ = "text keyword '" + texts_[i].first + "' is not a PNG keyword";
      return false;
    }
    records[i].compression = PNG_TEXT_COMPRESSION_NONE;
    records[i].key = texts_[i].first.data();
    records[i].text = texts_[i].second.data();
    records[i].text_length = texts_[i].second.size();
  }
  png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, on_error, nullptr);
  if (png_ == nullptr || (info_ = png_create_info_struct(png_)) == nullptr) {
    error_ = "out of memory";
    return false;
  }
  rows_expected_ = height;
  row_bytes_ = static_cast<size_t>(width) * static_cast<size_t>(channels);
  return write_header(width, height, channels, records.data(), static_cast<int>(records.size()));
}

bool PngWriter::write_header(int32_t width, int32_t height, int32_t channels, png_const_textp texts,
                             int text_count) {
  if (setjmp(png_jmpbuf(png_))) return false;
  png_init_io(png_, file_);
  png_set_IHDR(png_, info_, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (text_count > 0) png_set_text(png_, info_, texts, text_count);
  png_write_info(png_, info_);
  return true;
}

bool PngWriter::write_row(std::span<const uint8_t> row) {
  if (png_ == nullptr || rows_written_ >= rows_expected_ || row.size() < row_bytes_) {
    error_ = "row outside the image";
    return false;
  }
  if (!write_one_row(row.data())) return false;
  ++rows_written_;
  return true;
}

bool PngWriter::write_one_row(const uint8_t *row) {
  if (setjmp(png_jmpbuf(png_))) return false;
  png_write_row(png_, row);
  return true;
}

bool PngWriter::finish() {
  if (png_ == nullptr || rows_written_ != rows_expected_) {
    error_ = "image incomplete";
    return false;
  }
  return write_end();
}

bool PngWriter::write_end() {
  if (setjmp(png_jmpbuf(png_))) return false;
  png_write_end(png_, nullptr);
  return true;
}

}  // namespace varnel_tool
