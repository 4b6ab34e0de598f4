#include "thumbnail/area_resampler.hpp"

#include <algorithm>
#include <cmath>

namespace varnel::thumbnail {

AreaResampler::AreaResampler(int32_t source_width, int32_t source_height, int32_t target_width,
                             int32_t target_height, int32_t channels, RowSource source)
    : source_width_(source_width),
      source_height_(source_height),
      target_width_(target_width),
      target_height_(target_height),
      channels_(channels),
      source_(std::move(source)) {
  compute_taps(source_width_, target_width_, column_taps_, column_weights_);
  compute_taps(source_height_, target_height_, row_taps_, row_weights_);
  source_row_.resize(static_cast<size_t>(source_width_) * static_cast<size_t>(channels_));
  widened_row_.resize(static_cast<size_t>(target_width_) * static_cast<size_t>(channels_));
  accumulator_.resize(widened_row_.size());
}

void AreaResampler::compute_taps(int32_t source_size, int32_t target_size, std::vector<Tap> &taps,
                                 std::vector<float> &weights) {
  // Weights below this are rounding noise at a cell edge; skipping them keeps
  // the vertical pass from asking for a source row it does not need.
  constexpr double kNegligibleOverlap = 1e-9;
  const double scale = static_cast<double>(source_size) / target_size;
  taps.resize(static_cast<size_t>(target_size));
  for (int32_t i = 0; i < target_size; ++i) {
    const double start = static_cast<double>(i) * source_size / target_size;
    const double end = static_cast<double>(i + 1) * source_size / target_size;
    Tap tap{-1, 0, weights.size()};
    const auto first = static_cast<int32_t>(std::floor(start));
    const auto last = std::min(static_cast<int32_t>(std::ceil(end)), source_size);
    for (int32_t k = std::max(first, 0); k < last; ++k) {
      const double overlap = std::min<double>(k + 1, end) - std::max<double>(k, start);
      if (overlap <= kNegligibleOverlap) continue;
      if (tap.first_source < 0) tap.first_source = k;
      // Taps are contiguous: a skipped edge sliver can only be the first or last.
      tap.count = k - tap.first_source + 1;
      weights.resize(tap.first_weight + static_cast<size_t>(tap.count), 0.0f);
      weights[tap.first_weight + static_cast<size_t>(k - tap.first_source)] =
          static_cast<float>(overlap / scale);
    }
    if (tap.first_source < 0) {  // cannot happen for sane sizes; stay safe
      tap.first_source = std::clamp(first, 0, source_size - 1);
      tap.count = 1;
      weights.push_back(1.0f);
    }
    taps[static_cast<size_t>(i)] = tap;
  }
}

bool AreaResampler::fetch_source_row(int32_t index) {
  while (widened_index_ < index) {
    if (!source_(source_row_)) return false;
    ++widened_index_;
    if (widened_index_ < index) continue;  // a row no target row covers
    const auto channels = static_cast<size_t>(channels_);
    for (size_t x = 0; x < column_taps_.size(); ++x) {
      const Tap &tap = column_taps_[x];
      for (size_t c = 0; c < channels; ++c) {
        float sum = 0.0f;
        for (int32_t k = 0; k < tap.count; ++k) {
          const size_t source_index = static_cast<size_t>(tap.first_source + k) * channels + c;
          sum += column_weights_[tap.first_weight + static_cast<size_t>(k)] *
                 static_cast<float>(source_row_[source_index]);
        }
        widened_row_[x * channels + c] = sum;
      }
    }
  }
  return true;
}

bool AreaResampler::next_row(std::span<uint8_t> target_row) {
  if (next_target_row_ >= target_height_ || target_row.size() < accumulator_.size()) return false;
  const Tap &tap = row_taps_[static_cast<size_t>(next_target_row_)];
  std::fill(accumulator_.begin(), accumulator_.end(), 0.0f);
  for (int32_t k = 0; k < tap.count; ++k) {
    if (!fetch_source_row(tap.first_source + k)) return false;
    const float weight = row_weights_[tap.first_weight + static_cast<size_t>(k)];
    for (size_t i = 0; i < accumulator_.size(); ++i) accumulator_[i] += weight * widened_row_[i];
  }
  for (size_t i = 0; i < accumulator_.size(); ++i) {
    const float rounded = std::nearbyint(std::clamp(accumulator_[i], 0.0f, 255.0f));
    target_row[i] = static_cast<uint8_t>(rounded);
  }
  ++next_target_row_;
  return true;
}

}  // namespace varnel::thumbnail
