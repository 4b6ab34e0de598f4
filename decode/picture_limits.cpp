// The memory limit for pictures' canvases, which hosts set for untrusted
// input.
#include <algorithm>
#include <atomic>

#include "decode/internal.hpp"

namespace varnel::decode {
namespace {

constexpr int64_t kLargestCanvasBytes = int64_t{kMaxSidePixels} * kMaxSidePixels * 4;

// Set by MacBin_SetPictureMemoryLimit (any thread); read by the picture
// parser before it allocates a canvas.
std::atomic<int64_t> picture_memory_limit{MACBIN_DEFAULT_PICTURE_BYTES};

}  // namespace

int64_t picture_canvas_limit() { return picture_memory_limit.load(std::memory_order_relaxed); }

}  // namespace varnel::decode

extern "C" int64_t MacBin_SetPictureMemoryLimit(int64_t bytes) {
  using namespace varnel::decode;
  if (bytes <= 0) return picture_memory_limit.load();
  return picture_memory_limit.exchange(std::clamp<int64_t>(bytes, 1, kLargestCanvasBytes));
}
