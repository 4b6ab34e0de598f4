// libpng reports errors by longjmp: the calls that may fail sit in one
// function whose frame holds no object with a destructor.
#include "common/png_writer.hpp"

#include <png.h>

#include <csetjmp>

namespace varnel_tool {
namespace {

struct PngJob {
  const PngBytesWriter *write;
  std::string *error;
  bool write_refused;
};

void on_error(png_structp png, png_const_charp message) {
  auto *job = static_cast<PngJob *>(png_get_error_ptr(png));
  if (!job->write_refused) *job->error = message != nullptr ? message : "PNG output failed";
  png_longjmp(png, 1);
}

void on_write(png_structp png, png_bytep data, png_size_t length) {
  auto *job = static_cast<PngJob *>(png_get_io_ptr(png));
  if ((*job->write)(std::span<const uint8_t>(data, length))) return;
  job->write_refused = true;
  png_error(png, "write failed");
}

void on_flush(png_structp /*png*/) {}

PngCompression compression_chosen = PngCompression::kFast;

bool encode(png_structp png, png_infop info, const PngImage &image, png_textp texts, PngJob *job) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, job, on_write, on_flush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               image.with_alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!image.texts.empty()) png_set_text(png, info, texts, static_cast<int>(image.texts.size()));
  if (compression_chosen == PngCompression::kFast) {
    // Level 4 is zlib's first with lazy matching, which keeps the long runs
    // of flat drawings short; None and Sub cover flat and noisy rows alike.
    constexpr int kFastLevel = 4;
    png_set_compression_level(png, kFastLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE | PNG_FILTER_SUB);
  }
  png_write_info(png, info);
  // RGB from RGBA rows: libpng leaves out the fourth byte of each pixel.
  if (!image.with_alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
  const size_t row_bytes = static_cast<size_t>(image.width) * 4;
  for (int32_t y = 0; y < image.height; ++y) {
    png_write_row(png, image.pixels.data() + static_cast<size_t>(y) * row_bytes);
    if (image.progress != nullptr) image.progress->add(static_cast<int64_t>(row_bytes));
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

void set_png_compression(PngCompression compression) { compression_chosen = compression; }

bool write_png(const PngImage &image, const PngBytesWriter &write, std::string &error) {
  const size_t row_bytes = static_cast<size_t>(image.width) * 4;
  if (image.width <= 0 || image.height <= 0 || image.pixels.size() < row_bytes * static_cast<size_t>(image.height)) {
    error = "bad image size";
    return false;
  }
  // libpng copies the texts when they are set; these records only point
  // into image.texts until then.
  std::vector<png_text> texts(image.texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    texts[i].compression = PNG_TEXT_COMPRESSION_NONE;
    texts[i].key = const_cast<char *>(image.texts[i].first.c_str());
    texts[i].text = const_cast<char *>(image.texts[i].second.c_str());
    texts[i].text_length = image.texts[i].second.size();
  }
  PngJob job{&write, &error, false};
  error.clear();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, on_error, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  const bool written = info != nullptr && encode(png, info, image, texts.data(), &job);
  if (png != nullptr && info == nullptr) error = "out of memory";
  png_destroy_write_struct(&png, &info);
  return written;
}

}  // namespace varnel_tool
