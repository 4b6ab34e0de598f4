// netpbm input: PBM (P1, P4), PGM (P2, P5) and PPM (P3, P6), maxval up to
// 65535.  Samples are scaled to 8 bits.  PBM bit 1 is black.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "imagefile/internal.hpp"

namespace varnel::imagefile {
namespace {

class PnmReader final : public ImageRows {
 public:
  explicit PnmReader(FILE *file) : file_(file) {}

  bool open() {
    if (std::getc(file_) != 'P') return fail("not a netpbm file");
    const int kind = std::getc(file_);
    if (kind < '1' || kind > '6') return fail("unsupported netpbm variant");
    kind_ = kind - '0';
    ascii_ = kind_ <= 3;
    bitmap_ = kind_ == 1 || kind_ == 4;
    int64_t width = 0;
    int64_t height = 0;
    if (!read_header_number(width) || !read_header_number(height)) return fail("damaged netpbm header");
    if (width < 1 || height < 1 || width > kMaxImageSidePixels || height > kMaxImageSidePixels)
      return fail("netpbm image size out of range");
    if (!bitmap_) {
      int64_t maxval = 0;
      if (!read_header_number(maxval)) return fail("damaged netpbm header");
      if (maxval < 1 || maxval > 65535) return fail("netpbm maxval out of range");
      maxval_ = static_cast<uint32_t>(maxval);
    }
    // Exactly one whitespace byte separates the header from raw samples.
    if (!ascii_ && !is_space(std::getc(file_))) return fail("damaged netpbm header");
    info_.width = static_cast<int32_t>(width);
    info_.height = static_cast<int32_t>(height);
    info_.channels = (kind_ == 3 || kind_ == 6) ? 3 : 1;
    info_.one_bit = bitmap_;
    info_.format = bitmap_ ? "PBM" : (info_.channels == 3 ? "PPM" : "PGM");
    return true;
  }

  bool read_row(std::span<uint8_t> row) override {
    if (rows_read_ >= info_.height) return fail("read past the last row");
    const size_t samples = static_cast<size_t>(info_.width) * static_cast<size_t>(info_.channels);
    if (row.size() < samples) return fail("row buffer too small");
    const bool ok = bitmap_ ? read_bitmap_row(row) : read_sample_row(row.first(samples));
    if (!ok) return false;
    ++rows_read_;
    return true;
  }

 private:
  static bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

  // Skips blanks and '#' comments; returns the first other character.
  int next_significant_char() {
    int c = std::getc(file_);
    while (c != EOF) {
      if (c == '#') {
        while (c != EOF && c != '\n' && c != '\r') c = std::getc(file_);
      } else if (!is_space(c)) {
        return c;
      } else {
        c = std::getc(file_);
      }
    }
    return EOF;
  }

  bool read_header_number(int64_t &value) {
    int c = next_significant_char();
    if (c < '0' || c > '9') return false;
    value = 0;
    while (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (value > 1000000000) return false;
      c = std::getc(file_);
    }
    // The separator stays unread: raw formats take exactly one whitespace
    // byte after the last header number, which open() consumes.
    if (c != EOF) std::ungetc(c, file_);
    return true;
  }

  bool read_ascii_sample(uint32_t &value) {
    int c = next_significant_char();
    if (c < '0' || c > '9') return fail(c == EOF ? "netpbm data ends early" : "damaged netpbm data");
    uint64_t number = 0;
    if (bitmap_) {
      // Plain PBM digits need no separators: "0110" is four pixels.
      value = static_cast<uint32_t>(c - '0');
      return value <= 1 ? true : fail("damaged netpbm data");
    }
    while (c >= '0' && c <= '9') {
      number = number * 10 + static_cast<uint64_t>(c - '0');
      if (number > maxval_) return fail("netpbm sample above maxval");
      c = std::getc(file_);
    }
    if (c != EOF) std::ungetc(c, file_);
    value = static_cast<uint32_t>(number);
    return true;
  }

  uint8_t scale_to_8_bits(uint32_t value) const {
    if (maxval_ == 255) return static_cast<uint8_t>(value);
    return static_cast<uint8_t>((value * 255u + maxval_ / 2) / maxval_);
  }

  bool read_bitmap_row(std::span<uint8_t> row) {
    const auto width = static_cast<size_t>(info_.width);
    if (ascii_) {
      for (size_t x = 0; x < width; ++x) {
        uint32_t bit = 0;
        if (!read_ascii_sample(bit)) return false;
        row[x] = bit != 0 ? 0 : 255;
      }
      return true;
    }
    packed_.resize((width + 7) / 8);
    if (std::fread(packed_.data(), 1, packed_.size(), file_) != packed_.size()) return fail("netpbm data ends early");
    for (size_t x = 0; x < width; ++x) {
      const bool black = (packed_[x / 8] >> (7 - x % 8)) & 1;
      row[x] = black ? 0 : 255;
    }
    return true;
  }

  bool read_sample_row(std::span<uint8_t> row) {
    if (ascii_) {
      for (uint8_t &sample : row) {
        uint32_t value = 0;
        if (!read_ascii_sample(value)) return false;
        sample = scale_to_8_bits(value);
      }
      return true;
    }
    const size_t bytes_per_sample = maxval_ > 255 ? 2 : 1;
    packed_.resize(row.size() * bytes_per_sample);
    if (std::fread(packed_.data(), 1, packed_.size(), file_) != packed_.size()) return fail("netpbm data ends early");
    for (size_t i = 0; i < row.size(); ++i) {
      uint32_t value = packed_[i * bytes_per_sample];
      if (bytes_per_sample == 2) value = (value << 8) | packed_[i * 2 + 1];
      if (value > maxval_) return fail("netpbm sample above maxval");
      row[i] = scale_to_8_bits(value);
    }
    return true;
  }

  FILE *file_;
  int kind_ = 0;
  bool ascii_ = false;
  bool bitmap_ = false;
  uint32_t maxval_ = 1;
  int32_t rows_read_ = 0;
  std::vector<uint8_t> packed_;
};

}  // namespace

std::unique_ptr<ImageRows> open_pnm_rows(FILE *file, std::string &error) {
  auto reader = std::make_unique<PnmReader>(file);
  if (!reader->open()) {
    error = "damaged netpbm file: " + reader->error();
    return nullptr;
  }
  return reader;
}

}  // namespace varnel::imagefile
