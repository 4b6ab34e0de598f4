#include "image_methods.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "common/image_reader.hpp"
#include "tool_context.hpp"
#include "varnel.h"
#include "write_handlers.hpp"

namespace varnel_tool {
namespace {

// Kinds the descriptor announces: a continuous-tone picture, or the
// one-bit mask.
constexpr int32_t kKindContinuousTone = 0x20;
constexpr int32_t kKindOneBit = 0x02;
// A record with this tag makes the library use its own silent callbacks.
constexpr int32_t kLibraryProgressTag = 100;

MacBinAcquireProgress silent_progress = {kLibraryProgressTag, nullptr, nullptr, nullptr};

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
struct ResamplerFreer {
  void operator()(MacBinResampler *resampler) const { MacBin_FreeResampler(resampler); }
};

// One image being delivered: the file, its decoder, the resampler and the
// rows in their three stages.
struct ImageJob {
  std::string name;  // as the resource line gave it
  std::string path;  // resolved
  std::unique_ptr<FILE, FileCloser> file;
  std::unique_ptr<ImageReader> reader;
  std::unique_ptr<MacBinResampler, ResamplerFreer> resampler;  // the library's area filter
  bool is_mask = false;
  int32_t samples_per_pixel = 0;  // after conversion: 1 (grey ink or mask cover) or 3 (RGB)
  std::vector<uint8_t> source_row;
  std::vector<uint8_t> target_row;
  std::vector<uint8_t> fallback_row;  // when the library gave no buffer
  bool failed = false;
};

// Jobs live from prepare to release; the list also frees any the library
// did not release.
std::vector<std::unique_ptr<ImageJob>> live_jobs;
// The picture's delivered size: its mask is delivered at the same size.
int32_t picture_width = 0;
int32_t picture_height = 0;

ImageJob *job_of(MacBinImage *image) {
  return image != nullptr ? static_cast<ImageJob *>(image->host_data) : nullptr;
}

void report_job_error(ImageJob &job, const std::string &text) {
  if (!job.failed) line_error(job.name + ": " + text);
  job.failed = true;
}

// Folds alpha over white: the picture has no transparency of its own.
uint8_t over_white(uint32_t value, uint32_t alpha) {
  return static_cast<uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

// Turns a decoded row into the samples the resampler averages:
//   picture from grey:  ink amounts (0 = white), as the grey picture reads them;
//   picture from RGB:   light intensities;
//   mask:               255 inside (opaque, or dark when there is no alpha), 0 outside.
void convert_source_row(const ImageJob &job, std::span<const uint8_t> in, std::span<uint8_t> out) {
  const auto channels = static_cast<size_t>(job.reader->info().channels);
  const size_t width = static_cast<size_t>(job.reader->info().width);
  const bool has_alpha = channels == 2 || channels == 4;
  for (size_t x = 0; x < width; ++x) {
    const uint8_t *pixel = &in[x * channels];
    const uint32_t alpha = has_alpha ? pixel[channels - 1] : 255u;
    if (job.is_mask) {
      if (has_alpha) {
        out[x] = static_cast<uint8_t>(alpha);
      } else {
        const uint32_t light = channels >= 3 ? (299u * pixel[0] + 587u * pixel[1] + 114u * pixel[2]) / 1000u
                                             : pixel[0];
        out[x] = light < 128 ? 255 : 0;
      }
    } else if (job.samples_per_pixel == 1) {
      out[x] = static_cast<uint8_t>(255 - over_white(pixel[0], alpha));
    } else {
      for (size_t c = 0; c < 3; ++c) out[x * 3 + c] = over_white(pixel[c], alpha);
    }
  }
}

// Opens the file and its decoder; false after an error message.
bool open_source(ImageJob &job) {
  job.file.reset(std::fopen(job.path.c_str(), "rb"));
  if (!job.file) {
    report_job_error(job, "cannot open image file");
    return false;
  }
  std::string error;
  job.reader = open_image_reader(job.file.get(), error);
  if (!job.reader) {
    report_job_error(job, error);
    return false;
  }
  return true;
}

// The resampler's row source: the next decoded row, converted.
int32_t next_converted_row(void *argument, uint8_t *converted) {
  ImageJob &job = *static_cast<ImageJob *>(argument);
  if (!job.reader->read_row(job.source_row)) {
    report_job_error(job, std::string("damaged ") + job.reader->info().format + " data: " + job.reader->error());
    return 0;
  }
  convert_source_row(job, job.source_row,
                     std::span<uint8_t>(converted, static_cast<size_t>(job.reader->info().width) *
                                                       static_cast<size_t>(job.samples_per_pixel)));
  return 1;
}

void start_resampling(ImageJob &job, int32_t width, int32_t height) {
  const ImageInfo &info = job.reader->info();
  job.source_row.resize(static_cast<size_t>(info.width) * static_cast<size_t>(info.channels));
  job.target_row.resize(static_cast<size_t>(width) * static_cast<size_t>(job.samples_per_pixel));
  job.resampler.reset(MacBin_NewResampler(info.width, info.height, width, height, job.samples_per_pixel,
                                          next_converted_row, &job));
  if (!job.resampler) {
    const char *why = "";
    MacBin_LastError(&why);
    report_job_error(job, why);
  }
}

// The physical size that makes width / size exactly `resolution` in single
// precision, as the library computes the picture's resolution.
float size_for_exact_resolution(int32_t pixels, float resolution) {
  float size = static_cast<float>(pixels) / resolution;
  for (int attempt = 0; attempt < 4 && static_cast<float>(pixels) / size != resolution; ++attempt) {
    size = std::nextafter(size, static_cast<float>(pixels) / size > resolution ? HUGE_VALF : 0.0f);
  }
  return size;
}

uint8_t *row_target(MacBinImage *image, ImageJob &job, size_t bytes) {
  if (image->row_buffer != nullptr) return image->row_buffer;
  job.fallback_row.resize(bytes);
  return job.fallback_row.data();
}

// ---- The methods -----------------------------------------------------------

int32_t prepare_image(MacBinImage *image, const char *file_name) {
  auto job = std::make_unique<ImageJob>();
  job->name = file_name != nullptr ? file_name : "";
  job->path = resolve_input_path(job->name);
  image->host_data = job.get();
  image->acquire_progress = &silent_progress;
  live_jobs.push_back(std::move(job));
  return 0;
}

int32_t open_picture(MacBinImage *image, MacBinImageRequest *request) {
  ImageJob *job = job_of(image);
  picture_width = 0;
  picture_height = 0;
  if (job == nullptr || request == nullptr || !open_source(*job)) return 1;
  const ImageInfo &info = job->reader->info();
  if (!(request->h_res > 0.0f && request->v_res > 0.0f)) {
    report_job_error(*job, "the resolution must be a positive number of pixels per inch");
    return 1;
  }
  const double width_inches = info.width / info.pixels_per_inch_x;
  const double height_inches = info.height / info.pixels_per_inch_y;
  const double width = std::max(1.0, std::round(width_inches * request->h_res));
  const double height = std::max(1.0, std::round(height_inches * request->v_res));
  if (width > kMaxPictureWidthPixels || height > kMaxPictureHeightPixels) {
    report_job_error(*job, "at " + std::to_string(static_cast<int>(request->h_res)) +
                               " pixels per inch the picture would be " +
                               std::to_string(static_cast<long long>(width)) + "x" +
                               std::to_string(static_cast<long long>(height)) +
                               " pixels; a picture holds at most " +
                               std::to_string(kMaxPictureWidthPixels) + "x" +
                               std::to_string(kMaxPictureHeightPixels));
    return 1;
  }
  const bool grey = info.channels <= 2;
  job->samples_per_pixel = grey ? 1 : 3;
  image->width = static_cast<int32_t>(width);
  image->height = static_cast<int32_t>(height);
  image->channels = job->samples_per_pixel;
  image->kinds = kKindContinuousTone;
  image->h_size = size_for_exact_resolution(image->width, request->h_res);
  image->v_size = size_for_exact_resolution(image->height, request->v_res);
  picture_width = image->width;
  picture_height = image->height;
  start_resampling(*job, image->width, image->height);
  return 0;
}

int32_t open_mask(MacBinImage *image, MacBinImageRequest *request) {
  ImageJob *job = job_of(image);
  if (job == nullptr || request == nullptr) return 1;
  job->is_mask = true;
  if (!open_source(*job)) return 1;
  if (picture_width <= 0 || picture_height <= 0) {
    report_job_error(*job, "mask without a picture");
    return 1;
  }
  // The mask covers the picture whatever its own resolution: it is
  // delivered at exactly the picture's size.
  job->samples_per_pixel = 1;
  image->width = picture_width;
  image->height = picture_height;
  image->channels = 1;
  image->kinds = kKindOneBit;
  if (request->h_res > 0.0f && request->v_res > 0.0f) {
    image->h_size = static_cast<float>(picture_width) / request->h_res;
    image->v_size = static_cast<float>(picture_height) / request->v_res;
  }
  start_resampling(*job, picture_width, picture_height);
  return 0;
}

int32_t begin_reading(MacBinImage *image, MacBinReadRequest * /*request*/) {
  ImageJob *job = job_of(image);
  return job != nullptr && job->resampler && !job->failed ? 0 : 1;
}

uint8_t *next_picture_row(MacBinImage *image) {
  ImageJob *job = job_of(image);
  const auto width = static_cast<size_t>(image->width);
  const size_t planes = job != nullptr ? static_cast<size_t>(job->samples_per_pixel) : 1;
  uint8_t *row = job != nullptr ? row_target(image, *job, width * planes) : image->row_buffer;
  if (job == nullptr || row == nullptr) return row;
  if (job->failed || MacBin_ResampleRow(job->resampler.get(), job->target_row.data()) != 1) {
    if (!job->failed) report_job_error(*job, "more rows asked for than the image has");
    // The library takes a row whatever happens; an empty one (white) keeps
    // it going until end() reports the failure.
    std::fill_n(row, width * planes, planes == 1 ? 0 : 255);
    return row;
  }
  // The library wants planes: all reds, then all greens, then all blues.
  for (size_t x = 0; x < width; ++x)
    for (size_t c = 0; c < planes; ++c) row[c * width + x] = job->target_row[x * planes + c];
  return row;
}

uint8_t *next_mask_row(MacBinImage *image) {
  ImageJob *job = job_of(image);
  const auto width = static_cast<size_t>(image->width);
  const size_t row_bytes = (width + 7) / 8;
  uint8_t *row = job != nullptr ? row_target(image, *job, row_bytes) : image->row_buffer;
  if (job == nullptr || row == nullptr) return row;
  std::fill_n(row, row_bytes, 0);
  if (job->failed || MacBin_ResampleRow(job->resampler.get(), job->target_row.data()) != 1) {
    if (!job->failed) report_job_error(*job, "more mask rows asked for than the image has");
    return row;
  }
  // One bit per pixel, leftmost in the top bit, set = inside.
  for (size_t x = 0; x < width; ++x)
    if (job->target_row[x] >= 128) row[x / 8] = static_cast<uint8_t>(row[x / 8] | (0x80u >> (x % 8)));
  return row;
}

int32_t end_reading(MacBinImage *image) {
  ImageJob *job = job_of(image);
  return job != nullptr && !job->failed ? 0 : 1;
}

int32_t close_image(MacBinImage *image) {
  ImageJob *job = job_of(image);
  if (job == nullptr) return 1;
  job->resampler.reset();
  job->reader.reset();
  job->file.reset();
  return job->failed ? 1 : 0;
}

int32_t release_image(MacBinImage *image) {
  ImageJob *job = job_of(image);
  image->host_data = nullptr;
  std::erase_if(live_jobs, [job](const std::unique_ptr<ImageJob> &live) { return live.get() == job; });
  return 0;
}

template <typename Method>
void install(Method method, int32_t id) {
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(method), id);
}

}  // namespace

void install_image_methods() {
  // Each method runs guarded: no exception may travel back into the library.
  // A failing next-row method still hands back a row (the library takes one).
  install(static_cast<MacBinImageOpenMethod>([](MacBinImage *image, MacBinImageRequest *request) -> int32_t {
            return guard_callback(1, [&] { return open_picture(image, request); });
          }),
          MACBIN_METHOD_OPEN);
  install(static_cast<MacBinImageOpenMethod>([](MacBinImage *image, MacBinImageRequest *request) -> int32_t {
            return guard_callback(1, [&] { return open_mask(image, request); });
          }),
          MACBIN_METHOD_MASK_OPEN);
  install(static_cast<MacBinImageBeginMethod>(begin_reading), MACBIN_METHOD_BEGIN);
  install(static_cast<MacBinImageBeginMethod>(begin_reading), MACBIN_METHOD_MASK_BEGIN);
  install(static_cast<MacBinImageNextRowMethod>([](MacBinImage *image) -> uint8_t * {
            return guard_callback(image->row_buffer, [&] { return next_picture_row(image); });
          }),
          MACBIN_METHOD_NEXT_ROW);
  install(static_cast<MacBinImageNextRowMethod>([](MacBinImage *image) -> uint8_t * {
            return guard_callback(image->row_buffer, [&] { return next_mask_row(image); });
          }),
          MACBIN_METHOD_MASK_NEXT_ROW);
  install(static_cast<MacBinImageStatusMethod>(end_reading), MACBIN_METHOD_END);
  install(static_cast<MacBinImageStatusMethod>(end_reading), MACBIN_METHOD_MASK_END);
  install(static_cast<MacBinImageStatusMethod>(close_image), MACBIN_METHOD_CLOSE);
  install(static_cast<MacBinImageStatusMethod>(close_image), MACBIN_METHOD_MASK_CLOSE);
  install(static_cast<MacBinImagePrepareMethod>([](MacBinImage *image, const char *file_name) -> int32_t {
            return guard_callback(1, [&] { return prepare_image(image, file_name); });
          }),
          MACBIN_METHOD_PREPARE);
  install(static_cast<MacBinImageStatusMethod>(release_image), MACBIN_METHOD_RELEASE);
}

}  // namespace varnel_tool
