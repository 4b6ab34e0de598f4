// The area resampler for hosts (MacBin_NewResampler): the filter that
// reduces thumbnails, over a host's own row source, so that a host scaling
// images of its own (the tool's pictures made from PNG files) needs no copy
// of it.  A source's failure is final: the resampler gives no row after it.
#include <new>
#include <span>
#include <string>

#include "frame/internal.hpp"
#include "thumbnail/area_resampler.hpp"

struct MacBinResampler {
  MacBinResampler(int32_t source_width, int32_t source_height, int32_t target_width, int32_t target_height,
                  int32_t channels, MacBinRowSource source, void *argument)
      : target_row_bytes(static_cast<size_t>(target_width) * static_cast<size_t>(channels)),
        resampler(source_width, source_height, target_width, target_height, channels,
                  [this, source, argument](std::span<uint8_t> row) {
                    if (failed || source(argument, row.data()) != 1) failed = true;
                    return !failed;
                  }) {}

  size_t target_row_bytes;
  bool failed = false;
  varnel::thumbnail::AreaResampler resampler;
};

namespace {

constexpr int32_t kMaxSide = 65535;
constexpr int32_t kMaxChannels = 4;

bool side_in_range(int32_t side) { return side >= 1 && side <= kMaxSide; }

}  // namespace

extern "C" MacBinResampler *MacBin_NewResampler(int32_t source_width, int32_t source_height, int32_t target_width,
                                                int32_t target_height, int32_t channels, MacBinRowSource source,
                                                void *argument) {
  if (!side_in_range(source_width) || !side_in_range(source_height) || !side_in_range(target_width) ||
      !side_in_range(target_height) || channels < 1 || channels > kMaxChannels || source == nullptr) {
    const std::string reason = "cannot resample " + std::to_string(source_width) + " x " +
                               std::to_string(source_height) + " to " + std::to_string(target_width) + " x " +
                               std::to_string(target_height) + " pixels of " + std::to_string(channels) +
                               " samples" + (source == nullptr ? " without a row source" : "") +
                               ": sides are 1 to 65535 pixels, 1 to 4 samples a pixel";
    record_error(MACBIN_ERR_ARGUMENT, reason.c_str());
    return nullptr;
  }
  try {
    return new MacBinResampler(source_width, source_height, target_width, target_height, channels, source,
                               argument);
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (starting a resampler)");
    return nullptr;
  }
}

extern "C" int32_t MacBin_ResampleRow(MacBinResampler *resampler, uint8_t *row) {
  if (resampler == nullptr || row == nullptr || resampler->failed) return 0;
  return resampler->resampler.next_row(std::span<uint8_t>(row, resampler->target_row_bytes)) ? 1 : 0;
}

extern "C" void MacBin_FreeResampler(MacBinResampler *resampler) { delete resampler; }
