// The picture decoder on arbitrary bytes: MacBin_DecodePicture either
// fills the pixels (and the error line names what it skipped) or refuses
// with a reason, and never reads outside its input.  Frames beyond 1024 x
// 1024 are left out here: the decoder allows 16384 x 16384, whose canvas
// alone would slow the search to a crawl.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "varnel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size >= 10) {
    const auto word = [&](size_t at) { return static_cast<int16_t>((data[at] << 8) | data[at + 1]); };
    if (int32_t{word(6)} - word(2) > 1024 || int32_t{word(8)} - word(4) > 1024) return 0;
  }
  if (size > 1 << 20) return 0;
  MacBinPixels pixels{};
  char error[128];
  std::memset(error, 'x', sizeof error);
  const int32_t result = MacBin_DecodePicture(data, static_cast<int32_t>(size), &pixels, error);
  if (std::memchr(error, '\0', sizeof error) == nullptr) std::abort();
  if (result == 1) {
    if (pixels.rgba == nullptr || pixels.width <= 0 || pixels.height <= 0) std::abort();
    // Touch every pixel: a short allocation shows under the sanitizers.
    uint32_t sum = 0;
    for (size_t i = 0; i < static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height) * 4; ++i) sum += pixels.rgba[i];
    if (sum == 0xFFFFFFFF) std::abort();
  } else if (pixels.rgba != nullptr || error[0] == '\0') {
    std::abort();
  }
  MacBin_FreePixels(&pixels);
  return 0;
}
