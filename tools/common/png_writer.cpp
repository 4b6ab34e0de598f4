// libpng reports errors by longjmp: the calls that may fail sit in one
// function whose frame holds no object with a destructor.
#include "common/png_writer.hpp"

#include <png.h>

#include <array>
#include <csetjmp>
#include <cstring>
#include <optional>

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

// An image of at most 256 distinct pixels as a palette and one index a
// pixel: a third or a quarter of the bytes for zlib to go through, which
// is most of the time of writing an 8-bit picture.  Made before libpng
// starts, since its errors jump past destructors.
struct IndexedImage {
  std::vector<png_color> palette;
  std::vector<png_byte> alpha;  // empty when every entry is opaque
  std::vector<uint8_t> indices;
};

// The pixel as one word, its alpha made opaque when the image drops it.
uint32_t pixel_word(const uint8_t *rgba, bool with_alpha) {
  uint8_t bytes[4] = {rgba[0], rgba[1], rgba[2], with_alpha ? rgba[3] : uint8_t{0xFF}};
  uint32_t word;
  std::memcpy(&word, bytes, 4);
  return word;
}

void make_palette(IndexedImage &indexed, const std::vector<uint32_t> &colours) {
  indexed.palette.resize(colours.size());
  indexed.alpha.resize(colours.size());
  bool translucent = false;
  for (size_t i = 0; i < colours.size(); ++i) {
    uint8_t rgba[4];
    std::memcpy(rgba, &colours[i], 4);
    indexed.palette[i] = {rgba[0], rgba[1], rgba[2]};
    indexed.alpha[i] = rgba[3];
    translucent = translucent || rgba[3] != 0xFF;
  }
  if (!translucent) indexed.alpha.clear();
}

std::optional<IndexedImage> index_colours(const PngImage &image) {
  constexpr uint32_t kSlots = 1024;  // a power of two, 4 times the palette: short probes
  std::array<uint32_t, kSlots> keys{};
  std::array<int16_t, kSlots> slot_index;
  slot_index.fill(-1);
  std::vector<uint32_t> colours;
  IndexedImage indexed;
  indexed.indices.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
  uint32_t last = 0;
  uint8_t last_index = 0;
  for (size_t i = 0; i < indexed.indices.size(); ++i) {
    const uint32_t pixel = pixel_word(image.pixels.data() + i * 4, image.with_alpha);
    if (i == 0 || pixel != last) {
      uint32_t slot = (pixel * 2654435761u) >> 22;
      while (slot_index[slot] >= 0 && keys[slot] != pixel) slot = (slot + 1) & (kSlots - 1);
      if (slot_index[slot] < 0) {
        if (colours.size() == 256) return std::nullopt;
        keys[slot] = pixel;
        slot_index[slot] = static_cast<int16_t>(colours.size());
        colours.push_back(pixel);
      }
      last = pixel;
      last_index = static_cast<uint8_t>(slot_index[slot]);
    }
    indexed.indices[i] = last_index;
  }
  make_palette(indexed, colours);
  return indexed;
}

bool encode(png_structp png, png_infop info, const PngImage &image, png_textp texts, PngJob *job,
            const IndexedImage *indexed) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, job, on_write, on_flush);
  const int colour_type = indexed != nullptr  ? PNG_COLOR_TYPE_PALETTE
                          : image.with_alpha ? PNG_COLOR_TYPE_RGB_ALPHA
                                             : PNG_COLOR_TYPE_RGB;
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               colour_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (indexed != nullptr) {
    png_set_PLTE(png, info, indexed->palette.data(), static_cast<int>(indexed->palette.size()));
    if (!indexed->alpha.empty())
      png_set_tRNS(png, info, indexed->alpha.data(), static_cast<int>(indexed->alpha.size()), nullptr);
  }
  if (!image.texts.empty()) png_set_text(png, info, texts, static_cast<int>(image.texts.size()));
  if (compression_chosen == PngCompression::kFast) {
    // Level 4 is zlib's first with lazy matching, which keeps the long runs
    // of flat drawings short; None and Sub cover flat and noisy rows alike.
    // An indexed image keeps to None: its neighbours' differences mean
    // nothing.
    constexpr int kFastLevel = 4;
    png_set_compression_level(png, kFastLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE,
                   indexed != nullptr ? PNG_FILTER_NONE : PNG_FILTER_NONE | PNG_FILTER_SUB);
  }
  png_write_info(png, info);
  // Progress counts each row as its RGBA bytes, whatever is stored.
  const size_t row_bytes = static_cast<size_t>(image.width) * 4;
  if (indexed == nullptr && !image.with_alpha) {
    // RGB from RGBA rows: libpng leaves out the fourth byte of each pixel.
    png_set_filler(png, 0, PNG_FILLER_AFTER);
  }
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t *row = indexed != nullptr
                             ? indexed->indices.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width)
                             : image.pixels.data() + static_cast<size_t>(y) * row_bytes;
    png_write_row(png, row);
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
  // The fast setting writes an image of few colours as an indexed one;
  // the best keeps to RGB or RGBA.
  std::optional<IndexedImage> indexed;
  if (compression_chosen == PngCompression::kFast) indexed = index_colours(image);
  const bool written =
      info != nullptr && encode(png, info, image, texts.data(), &job, indexed ? &*indexed : nullptr);
  if (png != nullptr && info == nullptr) error = "out of memory";
  png_destroy_write_struct(&png, &info);
  return written;
}

}  // namespace varnel_tool
