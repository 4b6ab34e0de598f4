// The C entry point of the icon encoders: checks the caller's arguments,
// picks the encoder by type and copies the data out.  Nothing thrown inside
// crosses it: an EncodeError becomes the caller's error line.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "icon/rgba_encoding.hpp"
#include "varnel.h"

namespace varnel::icon {
namespace {

constexpr size_t kTypeBytes = 4;

void set_error(char error[128], std::string_view text) {
  if (error == nullptr) return;
  const size_t length = std::min<size_t>(text.size(), 127);
  std::memcpy(error, text.data(), length);
  error[length] = '\0';
}

std::vector<uint8_t> encode(std::string_view type, const MacBinPixels &pixels, ColourMatch match) {
  const RgbaImage image(pixels.width, pixels.height, pixels.rgba);
  if (type == "cicn") return encode_color_icon(image);
  if (is_family_type(type)) return encode_family_icon(type, image, pixels.hot_x, pixels.hot_y, match);
  throw EncodeError("cannot encode " + std::string(type) + ": not an icon type");
}

int32_t encode_resource(const char *type, const MacBinPixels *pixels, int32_t flags, void *buffer,
                        int32_t capacity, char error[128]) {
  if (type == nullptr || ::strnlen(type, kTypeBytes + 1) != kTypeBytes)
    throw EncodeError("the type must be 4 characters");
  if (pixels == nullptr || pixels->rgba == nullptr) throw EncodeError("no pixels");
  if (pixels->width <= 0 || pixels->height <= 0)
    throw EncodeError("empty image (" + std::to_string(pixels->width) + " x " + std::to_string(pixels->height) +
                      ")");
  if (flags != MACBIN_ENCODE_NEAREST && flags != MACBIN_ENCODE_EXACT)
    throw EncodeError("unknown flags " + std::to_string(flags));
  if (capacity < 0 || (buffer == nullptr && capacity > 0)) throw EncodeError("no room for the data");
  const std::vector<uint8_t> data =
      encode(type, *pixels, flags == MACBIN_ENCODE_EXACT ? ColourMatch::kExact : ColourMatch::kNearest);
  const size_t copied = std::min(data.size(), static_cast<size_t>(capacity));
  if (copied > 0) std::memcpy(buffer, data.data(), copied);
  set_error(error, "");
  return static_cast<int32_t>(data.size());  // at most some 200 KiB (a 256 x 256 cicn)
}

}  // namespace
}  // namespace varnel::icon

extern "C" int32_t MacBin_EncodeResource(const char *type, const MacBinPixels *pixels, int32_t flags, void *buffer,
                                         int32_t capacity, char error[128]) {
  using namespace varnel::icon;
  try {
    return encode_resource(type, pixels, flags, buffer, capacity, error);
  } catch (const EncodeError &failure) {
    set_error(error, failure.what());
  } catch (const std::bad_alloc &) {
    set_error(error, "out of memory");
  } catch (...) {
    set_error(error, "internal failure while encoding");
  }
  return -1;
}
