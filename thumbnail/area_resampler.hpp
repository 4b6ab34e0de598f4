// Area-averaging resampler over a stream of rows: each target pixel is the
// mean of the source area it covers, so shrinking never drops detail and a
// size-preserving pass returns the samples unchanged.  Only one source row
// and one accumulator row are held, whatever the image height.  Private to
// thumbnail/: hosts reach it through MacBin_NewResampler.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace varnel::thumbnail {

class AreaResampler {
 public:
  // Fills its argument with the next source row (source_width x channels
  // samples, interleaved); false when the source fails.
  using RowSource = std::function<bool(std::span<uint8_t>)>;

  AreaResampler(int32_t source_width, int32_t source_height, int32_t target_width,
                int32_t target_height, int32_t channels, RowSource source);

  // Writes the next target row (target_width x channels samples).  False
  // when the source failed or every target row was delivered already.
  bool next_row(std::span<uint8_t> target_row);

 private:
  bool fetch_source_row(int32_t index);

  struct Tap {
    int32_t first_source;  // first source column or row that contributes
    int32_t count;         // how many contribute
    size_t first_weight;   // index into the weight table
  };
  static void compute_taps(int32_t source_size, int32_t target_size, std::vector<Tap> &taps,
                           std::vector<float> &weights);

  int32_t source_width_;
  int32_t source_height_;
  int32_t target_width_;
  int32_t target_height_;
  int32_t channels_;
  RowSource source_;
  std::vector<Tap> column_taps_;
  std::vector<float> column_weights_;
  std::vector<Tap> row_taps_;
  std::vector<float> row_weights_;
  std::vector<uint8_t> source_row_;
  std::vector<float> widened_row_;  // the current source row, resampled across
  int32_t widened_index_ = -1;      // which source row widened_row_ holds
  std::vector<float> accumulator_;
  int32_t next_target_row_ = 0;
};

}  // namespace varnel::thumbnail
