// The library's own image-access methods (ids 1 to 10, 15 and 16): the
// picture builder reads the image files a PICT line names through the
// image-file readers (the host's, then the built-in one), resampled to the
// resolution the line asks for, and the mask image at the picture's size.
// MacBin_SetImageFileReader installs them, and so does a PICT line that
// finds no image method installed.
//
// Each image is a job from prepare to release.  A failure is reported once
// for its job, naming the file as the line gave it, with the code
// MACBIN_ERR_IMAGE; the methods then still hand back rows (the builder
// takes one whatever happens) and end() or close() reports the failure.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "frame/internal.hpp"
#include "picture/internal.hpp"
#include "varnel.h"

namespace {

// Kinds the descriptor announces: a continuous-tone picture, or the
// one-bit mask.
constexpr int32_t kKindContinuousTone = 0x20;
constexpr int32_t kKindOneBit = 0x02;
// A record with this tag makes the library use its own silent callbacks.
constexpr int32_t kLibraryProgressTag = 100;
// Largest picture the format holds: row bytes (width rounded up to even)
// below 0x4000, the frame within 16-bit coordinates.
constexpr int32_t kMaxPictureWidth = 16382;
constexpr int32_t kMaxPictureHeight = 32767;
constexpr double kDefaultResolution = 72.0;

MacBinAcquireProgress silent_progress = {kLibraryProgressTag, nullptr, nullptr, nullptr};

struct ResamplerFreer {
  void operator()(MacBinResampler *resampler) const { MacBin_FreeResampler(resampler); }
};

// One image being delivered: the file, the resampler and the rows in their
// three stages.
struct ImageJob {
  std::string name;  // as the line gave it
  std::unique_ptr<ImageFile> file;
  std::unique_ptr<MacBinResampler, ResamplerFreer> resampler;  // the area filter
  bool is_mask = false;
  int32_t samples_per_pixel = 0;  // after conversion: 1 (grey ink or mask cover) or 3 (RGB)
  std::vector<uint8_t> source_row;
  std::vector<uint8_t> target_row;
  std::vector<uint8_t> fallback_row;  // when the builder gave no buffer
  bool failed = false;
};

// Jobs live from prepare to release; the list also frees any the builder
// did not release.  Writing is single-threaded (see varnel.h).
std::vector<std::unique_ptr<ImageJob>> live_jobs;
// The picture's delivered size: its mask is delivered at the same size.
int32_t picture_width = 0;
int32_t picture_height = 0;

ImageJob *job_of(MacBinImage *image) { return image != nullptr ? static_cast<ImageJob *>(image->host_data) : nullptr; }

void fail_job(ImageJob &job, const std::string &text) {
  if (!job.failed) report((job.name + ": " + text).c_str(), MACBIN_ERROR, MACBIN_ERR_IMAGE);
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
void convert_source_row(const ImageJob &job, std::span<const uint8_t> in, uint8_t *out) {
  const auto channels = static_cast<size_t>(job.file->info().channels);
  const auto width = static_cast<size_t>(job.file->info().width);
  const bool has_alpha = channels == 2 || channels == 4;
  for (size_t x = 0; x < width; ++x) {
    const uint8_t *pixel = &in[x * channels];
    const uint32_t alpha = has_alpha ? pixel[channels - 1] : 255u;
    if (job.is_mask) {
      if (has_alpha) {
        out[x] = static_cast<uint8_t>(alpha);
      } else {
        const uint32_t light = channels >= 3 ? (299u * pixel[0] + 587u * pixel[1] + 114u * pixel[2]) / 1000u : pixel[0];
        out[x] = light < 128 ? 255 : 0;
      }
    } else if (job.samples_per_pixel == 1) {
      out[x] = static_cast<uint8_t>(255 - over_white(pixel[0], alpha));
    } else {
      for (size_t c = 0; c < 3; ++c) out[x * 3 + c] = over_white(pixel[c], alpha);
    }
  }
}

// Opens the file through the reader; false after the job's failure.
bool open_source(ImageJob &job) {
  const std::string path = image_path(job.name);
  // A file that cannot be opened is said so before the reader is asked.
  if (FILE *probe = std::fopen(path.c_str(), "rb"); probe != nullptr) {
    std::fclose(probe);
  } else {
    fail_job(job, "cannot open image file");
    return false;
  }
  job.file = std::make_unique<ImageFile>();
  if (job.file->open(path) != MACBIN_IMAGE_OPENED) {
    fail_job(job, job.file->error());
    return false;
  }
  return true;
}

// The resampler's row source: the next decoded row, converted.
int32_t next_converted_row(void *argument, uint8_t *converted) {
  ImageJob &job = *static_cast<ImageJob *>(argument);
  if (!job.file->read_row(job.source_row.data())) {
    fail_job(job, job.file->error());
    return 0;
  }
  convert_source_row(job, job.source_row, converted);
  return 1;
}

void start_resampling(ImageJob &job, int32_t width, int32_t height) {
  const MacBinImageFileInfo &info = job.file->info();
  job.source_row.resize(static_cast<size_t>(info.width) * static_cast<size_t>(info.channels));
  job.target_row.resize(static_cast<size_t>(width) * static_cast<size_t>(job.samples_per_pixel));
  job.resampler.reset(
      MacBin_NewResampler(info.width, info.height, width, height, job.samples_per_pixel, next_converted_row, &job));
  if (!job.resampler) {
    const char *why = "";
    MacBin_LastError(&why);
    fail_job(job, why);
  }
}

// The physical size that makes width / size exactly `resolution` in single
// precision, as the builder computes the picture's resolution.
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

double stated_or_default(double resolution) { return resolution > 0.0 ? resolution : kDefaultResolution; }

// ---- The methods -----------------------------------------------------------

int32_t prepare_image(MacBinImage *image, const char *file_name) {
  auto job = std::make_unique<ImageJob>();
  job->name = file_name != nullptr ? file_name : "";
  image->host_data = job.get();
  image->acquire_progress = &silent_progress;
  live_jobs.push_back(std::move(job));
  return 0;
}

// The picture's size at the requested resolution; false after the job's
// failure when it cannot be written.
bool picture_size(ImageJob &job, const MacBinImageRequest &request, double &width, double &height) {
  if (!(request.h_res > 0.0f && request.v_res > 0.0f)) {
    fail_job(job, "the resolution must be a positive number of pixels per inch");
    return false;
  }
  const MacBinImageFileInfo &info = job.file->info();
  width = std::max(1.0, std::round(info.width / stated_or_default(info.h_res) * request.h_res));
  height = std::max(1.0, std::round(info.height / stated_or_default(info.v_res) * request.v_res));
  if (width > kMaxPictureWidth || height > kMaxPictureHeight) {
    fail_job(job, "at " + std::to_string(static_cast<int>(request.h_res)) + " pixels per inch the picture would be " +
                      std::to_string(static_cast<long long>(width)) + "x" +
                      std::to_string(static_cast<long long>(height)) + " pixels; a picture holds at most " +
                      std::to_string(kMaxPictureWidth) + "x" + std::to_string(kMaxPictureHeight));
    return false;
  }
  return true;
}

int32_t open_picture(MacBinImage *image, MacBinImageRequest *request) {
  ImageJob *job = job_of(image);
  picture_width = 0;
  picture_height = 0;
  double width = 0.0;
  double height = 0.0;
  if (job == nullptr || request == nullptr || !open_source(*job) || !picture_size(*job, *request, width, height))
    return 1;
  job->samples_per_pixel = job->file->info().channels <= 2 ? 1 : 3;
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
    fail_job(*job, "mask without a picture");
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

// The next resampled row, or false (after the job's failure) when there is none.
bool resample_next(ImageJob &job, const char *what) {
  if (job.failed || !job.resampler) return false;
  if (MacBin_ResampleRow(job.resampler.get(), job.target_row.data()) == 1) return true;
  fail_job(job, std::string("more ") + what + " asked for than the image has");
  return false;
}

uint8_t *next_picture_row(MacBinImage *image) {
  ImageJob *job = job_of(image);
  const auto width = static_cast<size_t>(image->width);
  const size_t planes = job != nullptr ? static_cast<size_t>(job->samples_per_pixel) : 1;
  uint8_t *row = job != nullptr ? row_target(image, *job, width * planes) : image->row_buffer;
  if (job == nullptr || row == nullptr) return row;
  if (!resample_next(*job, "rows")) {
    // An empty row (white) keeps the builder going until end() reports
    // the failure.
    std::fill_n(row, width * planes, planes == 1 ? 0 : 255);
    return row;
  }
  // The builder wants planes: all reds, then all greens, then all blues.
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
  if (!resample_next(*job, "mask rows")) return row;
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
  job->file.reset();
  return job->failed ? 1 : 0;
}

int32_t release_image(MacBinImage *image) {
  ImageJob *job = job_of(image);
  if (image != nullptr) image->host_data = nullptr;
  std::erase_if(live_jobs, [job](const std::unique_ptr<ImageJob> &live) { return live.get() == job; });
  return 0;
}

// Runs a method's body so that nothing thrown reaches the builder: running
// out of memory fails the image.
template <typename Result, typename Body>
Result guarded(MacBinImage *image, Result failed, Body body) {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    if (ImageJob *job = job_of(image)) fail_job(*job, "out of memory");
  } catch (...) {
    if (ImageJob *job = job_of(image)) fail_job(*job, "internal failure while reading the image");
  }
  return failed;
}

int32_t guarded_prepare(MacBinImage *image, const char *file_name) {
  try {
    return prepare_image(image, file_name);
  } catch (...) {
    report("Out Of Memory (in PICT processor)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
    image->host_data = nullptr;
    return 1;
  }
}

int32_t guarded_open_picture(MacBinImage *image, MacBinImageRequest *request) {
  return guarded(image, int32_t{1}, [&] { return open_picture(image, request); });
}
int32_t guarded_open_mask(MacBinImage *image, MacBinImageRequest *request) {
  return guarded(image, int32_t{1}, [&] { return open_mask(image, request); });
}
uint8_t *guarded_picture_row(MacBinImage *image) {
  return guarded(image, image->row_buffer, [&] { return next_picture_row(image); });
}
uint8_t *guarded_mask_row(MacBinImage *image) {
  return guarded(image, image->row_buffer, [&] { return next_mask_row(image); });
}

template <typename Method>
void install(Method method, int32_t id) {
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(method), id);
}

// The slots of the image-access methods: 1 to 10, 15 and 16.
constexpr int32_t kImageMethodIds[] = {MACBIN_METHOD_OPEN,       MACBIN_METHOD_BEGIN,         MACBIN_METHOD_NEXT_ROW,
                                       MACBIN_METHOD_END,        MACBIN_METHOD_CLOSE,         MACBIN_METHOD_MASK_OPEN,
                                       MACBIN_METHOD_MASK_BEGIN, MACBIN_METHOD_MASK_NEXT_ROW, MACBIN_METHOD_MASK_END,
                                       MACBIN_METHOD_MASK_CLOSE, MACBIN_METHOD_PREPARE,       MACBIN_METHOD_RELEASE};

void forget_jobs() {
  live_jobs.clear();
  picture_width = 0;
  picture_height = 0;
}
ResetStep jobs_reset{forget_jobs, nullptr};
const bool jobs_reset_registered = register_reset_step(jobs_reset);

}  // namespace

void install_file_image_methods() {
  install(static_cast<MacBinImagePrepareMethod>(guarded_prepare), MACBIN_METHOD_PREPARE);
  install(static_cast<MacBinImageOpenMethod>(guarded_open_picture), MACBIN_METHOD_OPEN);
  install(static_cast<MacBinImageOpenMethod>(guarded_open_mask), MACBIN_METHOD_MASK_OPEN);
  install(static_cast<MacBinImageBeginMethod>(begin_reading), MACBIN_METHOD_BEGIN);
  install(static_cast<MacBinImageBeginMethod>(begin_reading), MACBIN_METHOD_MASK_BEGIN);
  install(static_cast<MacBinImageNextRowMethod>(guarded_picture_row), MACBIN_METHOD_NEXT_ROW);
  install(static_cast<MacBinImageNextRowMethod>(guarded_mask_row), MACBIN_METHOD_MASK_NEXT_ROW);
  install(static_cast<MacBinImageStatusMethod>(end_reading), MACBIN_METHOD_END);
  install(static_cast<MacBinImageStatusMethod>(end_reading), MACBIN_METHOD_MASK_END);
  install(static_cast<MacBinImageStatusMethod>(close_image), MACBIN_METHOD_CLOSE);
  install(static_cast<MacBinImageStatusMethod>(close_image), MACBIN_METHOD_MASK_CLOSE);
  install(static_cast<MacBinImageStatusMethod>(release_image), MACBIN_METHOD_RELEASE);
}

bool no_image_methods_installed() {
  for (const int32_t id : kImageMethodIds)
    if (MacIOControl.methods[id - 1] != nullptr) return false;
  return true;
}

extern "C" int32_t MacBin_SetImageFileReader(const MacBinImageFileReader *reader) {
  if (reader != nullptr && (reader->open == nullptr || reader->read_row == nullptr || reader->close == nullptr)) {
    record_error(MACBIN_ERR_ARGUMENT, "MacBin_SetImageFileReader: the reader needs open, read_row and close");
    return 1;
  }
  try {
    set_image_file_reader(reader);
  } catch (const std::bad_alloc &) {
    record_error(MACBIN_ERR_MEMORY, "MacBin_SetImageFileReader: out of memory");
    return 1;
  }
  if (reader != nullptr) install_file_image_methods();
  return 0;
}
