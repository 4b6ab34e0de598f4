#include "support/image_host.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vt {

namespace {

ImageHost *active = nullptr;  // the host the installed methods serve

HostImage &image_of(MacBinImage *image) { return *static_cast<HostImage *>(image->host_data); }

int32_t prepare(MacBinImage *image, const char *file_name) {
  active->calls.push_back(std::string("prepare ") + file_name);
  auto found = active->images.find(file_name);
  image->host_data = found == active->images.end() ? nullptr : &found->second;
  if (image->host_data != nullptr) image->acquire_progress = image_of(image).progress_record;
  return 0;
}

int32_t open_image(MacBinImage *image, MacBinImageRequest *request, const char *call) {
  active->calls.push_back(call);
  active->last_request = *request;
  if (image->host_data == nullptr) return 1;
  HostImage &s = image_of(image);
  s.progress_seen_at_open = image->acquire_progress;
  s.rows_delivered = 0;
  if (s.fail_open) return 1;
  image->v_size = s.v_size;
  image->h_size = s.h_size;
  image->width = s.width;
  image->height = s.height;
  image->channels = s.channels;
  image->kinds = s.kinds;
  return 0;
}

int32_t begin_image(MacBinImage *image, MacBinReadRequest *request, const char *call) {
  active->calls.push_back(call);
  active->last_read_request = *request;
  return image->host_data == nullptr ? 1 : image_of(image).fail_begin;
}

uint8_t *next_row(MacBinImage *image, const char *call) {
  active->calls.push_back(call);
  HostImage &s = image_of(image);
  if (s.rows_delivered == s.null_row_at || s.rows_delivered >= s.height) return nullptr;
  const size_t size = s.row_size();
  uint8_t *source = s.rows.data() + static_cast<size_t>(s.rows_delivered++) * size;
  if (!s.into_row_buffer) return source;
  std::memcpy(image->row_buffer, source, size);
  return image->row_buffer;
}

// end and close: recorded, failing when the image says so.
int32_t finish(MacBinImage *image, const char *call, int32_t HostImage::*fails) {
  active->calls.push_back(call);
  return image->host_data != nullptr ? image_of(image).*fails : 0;
}

template <typename Method>
void install_method(Method method, int32_t id) {
  if (MacBin_Setmethod(reinterpret_cast<MacBinMethod>(method), id) != 1)
    throw std::runtime_error("cannot install image method " + std::to_string(id));
}

}  // namespace

size_t HostImage::row_size() const {
  return channels > 0 ? static_cast<size_t>(channels) * static_cast<size_t>(width)
                      : static_cast<size_t>((width + 7) / 8);
}

void ImageHost::install() {
  active = this;
  using Image = MacBinImage;
  using Open = MacBinImageRequest;
  using Begin = MacBinReadRequest;
  install_method(prepare, MACBIN_METHOD_PREPARE);
  install_method(+[](Image *i, Open *r) { return open_image(i, r, "open"); }, MACBIN_METHOD_OPEN);
  install_method(+[](Image *i, Open *r) { return open_image(i, r, "mask_open"); }, MACBIN_METHOD_MASK_OPEN);
  install_method(+[](Image *i, Begin *r) { return begin_image(i, r, "begin"); }, MACBIN_METHOD_BEGIN);
  install_method(+[](Image *i, Begin *r) { return begin_image(i, r, "mask_begin"); },
          MACBIN_METHOD_MASK_BEGIN);
  install_method(+[](Image *i) { return next_row(i, "next_row"); }, MACBIN_METHOD_NEXT_ROW);
  install_method(+[](Image *i) { return next_row(i, "mask_next_row"); }, MACBIN_METHOD_MASK_NEXT_ROW);
  install_method(+[](Image *i) { return finish(i, "end", &HostImage::fail_end); }, MACBIN_METHOD_END);
  install_method(+[](Image *i) { return finish(i, "mask_end", &HostImage::fail_end); },
          MACBIN_METHOD_MASK_END);
  install_method(+[](Image *i) { return finish(i, "close", &HostImage::fail_close); }, MACBIN_METHOD_CLOSE);
  install_method(+[](Image *i) { return finish(i, "mask_close", &HostImage::fail_close); },
          MACBIN_METHOD_MASK_CLOSE);
  install_method(+[](Image *i) {
    for (auto &[name, image] : active->images)
      if (&image == i->host_data) active->calls.push_back("release " + name);
    return int32_t{0};
  }, MACBIN_METHOD_RELEASE);
  install_method(+[](MacBinProgress *p) {
    active->progress.push_back(std::string(p->type) + " " + std::to_string(p->id) + " " +
                               (p->name != nullptr ? p->name : "(null)") + " " +
                               std::to_string(p->percent));
  }, MACBIN_METHOD_PROGRESS);
}

ImageHost::~ImageHost() {
  if (active == this) active = nullptr;
}

HostImage &ImageHost::add_image(const std::string &name, int32_t width, int32_t height,
                                int32_t channels, const Bytes &rows) {
  HostImage &s = images[name] = {.width = width, .height = height, .channels = channels,
                                 .h_size = static_cast<float>(width) / 72.0f,
                                 .v_size = static_cast<float>(height) / 72.0f, .rows = rows};
  if (rows.size() != s.row_size() * static_cast<size_t>(height))
    throw std::invalid_argument("image " + name + ": rows do not match its size");
  return s;
}

HostImage &ImageHost::add_grey(const std::string &name, int32_t width, int32_t height,
                               int32_t channels) {
  return add_image(name, width, height, channels, grey_rows(width, height, channels));
}

HostImage &ImageHost::add_mask(const std::string &name, int32_t width,
                               const std::vector<std::string> &rows) {
  HostImage &s = images[name] = {
      .width = width, .height = static_cast<int32_t>(rows.size()), .channels = 0, .kinds = 2};
  for (const std::string &line : rows) {
    Bytes row(s.row_size(), 0);
    for (size_t x = 0; x < line.size(); ++x)
      if (line[x] == '#') row[x / 8] = static_cast<uint8_t>(row[x / 8] | (0x80 >> (x % 8)));
    s.rows.insert(s.rows.end(), row.begin(), row.end());
  }
  return s;
}

std::string ImageHost::joined_calls() const {
  std::string all;
  for (const std::string &call : calls) all += (all.empty() ? "" : ", ") + call;
  return all;
}

long ImageHost::count_calls(const std::string &call) const {
  return std::count(calls.begin(), calls.end(), call);
}

Bytes grey_rows(int32_t width, int32_t height, int32_t channels) {
  Bytes rows;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t c = 0; c < channels; ++c)
      for (int32_t x = 0; x < width; ++x)
        rows.push_back(static_cast<uint8_t>(x / 5 % 3 == 0 ? 7 * y + c * 50
                                                           : (x * 37 + y * 11 + c * 71) % 256));
  return rows;
}

void set_le32(Bytes &bytes, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

Bytes ct_file(int32_t rows, int32_t width, const Bytes &pixels, uint16_t channels) {
  Bytes file(512, 0);
  file[4] = static_cast<uint8_t>(channels);
  file[5] = static_cast<uint8_t>(channels >> 8);
  set_le32(file, 32, static_cast<uint32_t>(rows));
  set_le32(file, 36, static_cast<uint32_t>(width));
  set_le32(file, 68, 512);
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

}  // namespace vt
