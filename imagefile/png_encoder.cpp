// PNG output through libpng: a whole 8-bit RGBA image from memory, written
// as RGB when every pixel is opaque, else RGBA (or, at the fast setting, as
// an indexed image when it holds at most 256 distinct pixels), with the
// text chunks ahead of the image data, so that readers that stop at the
// first rows still see them.
//
// libpng reports errors by longjmp: the calls that may fail sit in one
// function whose frame holds no object with a destructor, and every
// object with one is made before libpng starts.
#include <png.h>

#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imagefile/builtin_reader.hpp"
#include "varnel.h"

namespace varnel::imagefile {
namespace {

constexpr size_t kRgbaBytes = 4;

// The image as the encoder sees it, and where its bytes go.
struct PngJob {
  const MacBinPixels *pixels;
  const MacBinPNGOptions *options;
  bool with_alpha;
  MacBinPNGSink sink;
  void *context;
  char reason[MACBIN_IMAGE_REASON_BYTES];  // libpng's, copied: no allocation under longjmp
  bool sink_refused;
};

void on_error(png_structp png, png_const_charp message) {
  auto *job = static_cast<PngJob *>(png_get_error_ptr(png));
  if (!job->sink_refused)
    std::snprintf(job->reason, sizeof job->reason, "%s", message != nullptr ? message : "PNG output failed");
  png_longjmp(png, 1);
}

void on_warning(png_structp /*png*/, png_const_charp /*message*/) {}

void on_write(png_structp png, png_bytep data, png_size_t length) {
  auto *job = static_cast<PngJob *>(png_get_io_ptr(png));
  if (job->sink(data, length, job->context) == 0) return;
  job->sink_refused = true;
  png_error(png, "write failed");
}

void on_flush(png_structp /*png*/) {}

// An image of at most 256 distinct pixels as a palette and one index a
// pixel: a third or a quarter of the bytes for zlib to go through, which
// is most of the time of writing an 8-bit picture.
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

std::optional<IndexedImage> index_colours(const MacBinPixels &pixels, bool with_alpha) {
  constexpr uint32_t kSlots = 1024;  // a power of two, 4 times the palette: short probes
  std::array<uint32_t, kSlots> keys{};
  std::array<int16_t, kSlots> slot_index;
  slot_index.fill(-1);
  std::vector<uint32_t> colours;
  IndexedImage indexed;
  indexed.indices.resize(static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height));
  uint32_t last = 0;
  uint8_t last_index = 0;
  for (size_t i = 0; i < indexed.indices.size(); ++i) {
    const uint32_t pixel = pixel_word(pixels.rgba + i * kRgbaBytes, with_alpha);
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

bool every_pixel_is_opaque(const MacBinPixels &pixels) {
  const size_t bytes = static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height) * kRgbaBytes;
  for (size_t at = 3; at < bytes; at += kRgbaBytes)
    if (pixels.rgba[at] != 0xFF) return false;
  return true;
}

void set_header(png_structp png, png_infop info, const PngJob &job, const IndexedImage *indexed) {
  const int colour_type = indexed != nullptr ? PNG_COLOR_TYPE_PALETTE
                          : job.with_alpha   ? PNG_COLOR_TYPE_RGB_ALPHA
                                             : PNG_COLOR_TYPE_RGB;
  png_set_IHDR(png, info, static_cast<png_uint_32>(job.pixels->width), static_cast<png_uint_32>(job.pixels->height), 8,
               colour_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (indexed != nullptr) {
    png_set_PLTE(png, info, indexed->palette.data(), static_cast<int>(indexed->palette.size()));
    if (!indexed->alpha.empty())
      png_set_tRNS(png, info, indexed->alpha.data(), static_cast<int>(indexed->alpha.size()), nullptr);
  }
  if (job.options->compression == MACBIN_PNG_FAST) {
    // Level 4 is zlib's first with lazy matching, which keeps the long runs
    // of flat drawings short; None and Sub cover flat and noisy rows alike.
    // An indexed image keeps to None: its neighbours' differences mean
    // nothing.
    constexpr int kFastLevel = 4;
    png_set_compression_level(png, kFastLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, indexed != nullptr ? PNG_FILTER_NONE : PNG_FILTER_NONE | PNG_FILTER_SUB);
  }
}

bool encode(png_structp png, png_infop info, PngJob *job, png_textp texts, const IndexedImage *indexed) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, job, on_write, on_flush);
  set_header(png, info, *job, indexed);
  if (job->options->text_count > 0) png_set_text(png, info, texts, job->options->text_count);
  png_write_info(png, info);
  const auto width = static_cast<size_t>(job->pixels->width);
  const size_t row_bytes = width * kRgbaBytes;
  // RGB from RGBA rows: libpng leaves out the fourth byte of each pixel.
  if (indexed == nullptr && !job->with_alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
  for (int32_t y = 0; y < job->pixels->height; ++y) {
    const uint8_t *row = indexed != nullptr ? indexed->indices.data() + static_cast<size_t>(y) * width
                                            : job->pixels->rgba + static_cast<size_t>(y) * row_bytes;
    png_write_row(png, row);
    if (job->options->rows_written != nullptr) job->options->rows_written(y + 1, job->options->rows_context);
  }
  png_write_end(png, nullptr);
  return true;
}

PngFailure check_arguments(const MacBinPixels &pixels, const MacBinPNGOptions &options, MacBinPNGSink sink,
                           std::string &reason) {
  if (pixels.width <= 0 || pixels.height <= 0 || pixels.rgba == nullptr) {
    reason = "bad image size";
    return PngFailure::kArgument;
  }
  if (sink == nullptr || (options.compression != MACBIN_PNG_FAST && options.compression != MACBIN_PNG_BEST) ||
      options.text_count < 0 || (options.text_count > 0 && (options.keys == nullptr || options.texts == nullptr))) {
    reason = "no sink, an unknown compression or texts without keys and texts";
    return PngFailure::kArgument;
  }
  for (int32_t i = 0; i < options.text_count; ++i) {
    if (options.keys[i] == nullptr || options.texts[i] == nullptr) {
      reason = "text " + std::to_string(i) + " has no key or no text";
      return PngFailure::kArgument;
    }
  }
  return PngFailure::kNone;
}

// libpng copies the texts when they are set; these records only point
// into the caller's until then.
std::vector<png_text> text_records(const MacBinPNGOptions &options) {
  std::vector<png_text> texts(static_cast<size_t>(options.text_count));
  for (size_t i = 0; i < texts.size(); ++i) {
    texts[i].compression = PNG_TEXT_COMPRESSION_NONE;
    texts[i].key = const_cast<char *>(options.keys[i]);
    texts[i].text = const_cast<char *>(options.texts[i]);
    texts[i].text_length = std::strlen(options.texts[i]);
  }
  return texts;
}

PngFailure encode_checked(const MacBinPixels &pixels, const MacBinPNGOptions &options, MacBinPNGSink sink,
                          void *context, std::string &reason) {
  std::vector<png_text> texts = text_records(options);
  const bool with_alpha = !every_pixel_is_opaque(pixels);
  // The fast setting writes an image of few colours as an indexed one; the
  // best keeps to RGB or RGBA.
  std::optional<IndexedImage> indexed;
  if (options.compression == MACBIN_PNG_FAST) indexed = index_colours(pixels, with_alpha);
  PngJob job{&pixels, &options, with_alpha, sink, context, {}, false};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, on_error, on_warning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  const bool created = info != nullptr;
  const bool written = created && encode(png, info, &job, texts.data(), indexed ? &*indexed : nullptr);
  png_destroy_write_struct(&png, &info);  // and sets both to null
  if (written) return PngFailure::kNone;
  if (!created) {
    reason = "out of memory";
    return PngFailure::kMemory;
  }
  if (job.sink_refused) {
    reason = "the sink refused the PNG's bytes";
    return PngFailure::kSinkRefused;
  }
  reason = job.reason;
  return PngFailure::kEncoder;
}

}  // namespace

PngFailure encode_png(const MacBinPixels &pixels, const MacBinPNGOptions &options, MacBinPNGSink sink, void *context,
                      std::string &reason) noexcept {
  try {
    reason.clear();
    const PngFailure refused = check_arguments(pixels, options, sink, reason);
    if (refused != PngFailure::kNone) return refused;
    return encode_checked(pixels, options, sink, context, reason);
  } catch (const std::bad_alloc &) {
    reason = "out of memory";  // short enough for the string's own buffer
    return PngFailure::kMemory;
  }
}

}  // namespace varnel::imagefile
