// The memory limit for pictures' canvases, which hosts set for untrusted
// input.
#include <algorithm>
#include <atomic>

#include "decode/internal.hpp"
#include "frame/internal.hpp"

namespace varnel::decode {
namespace {

constexpr int64_t kLargestCanvasBytes = int64_t{kMaxSidePixels} * kMaxSidePixels * 4;

// Set by MacBin_SetPictureMemoryLimit (any thread); read by the picture
// parser before it allocates a canvas.
std::atomic<int64_t> picture_memory_limit{MACBIN_DEFAULT_PICTURE_BYTES};

// MacBin_Reset: the default limit.
void reset_picture_memory_limit() { picture_memory_limit.store(MACBIN_DEFAULT_PICTURE_BYTES); }
ResetStep picture_limit_reset{reset_picture_memory_limit, nullptr};
const bool picture_limit_reset_registered = register_reset_step(picture_limit_reset);

}  // namespace

int64_t picture_canvas_limit() { return picture_memory_limit.load(std::memory_order_relaxed); }

}  // namespace varnel::decode

extern "C" int64_t MacBin_SetPictureMemoryLimit(int64_t bytes) {
  using namespace varnel::decode;
  if (bytes <= 0) return picture_memory_limit.load();
  return picture_memory_limit.exchange(std::clamp<int64_t>(bytes, 1, kLargestCanvasBytes));
}
