// Streaming PNG output through libpng: one row at a time, 8-bit RGB or RGBA,
// with optional text chunks ahead of the image data.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/image_sink.hpp"

// libpng's handles, declared here so that users of the writer need not see png.h.
struct png_struct_def;
struct png_info_def;
struct png_text_struct;

namespace varnel_tool {

class PngWriter final : public ImageSink {
 public:
  explicit PngWriter(FILE *file) : file_(file) {}
  ~PngWriter() override;
  PngWriter(const PngWriter &) = delete;
  PngWriter &operator=(const PngWriter &) = delete;

  // A tEXt chunk written with the header, ahead of the image data, so that
  // readers that stop at the first rows still see it.  Call before start().
  // The keyword must be 1 to 79 printable Latin-1 characters (PNG's rule);
  // start() refuses the image otherwise.
  void add_text(std::string keyword, std::string text);

  bool start(int32_t width, int32_t height, int32_t channels) override;
  bool write_row(std::span<const uint8_t> row) override;
  // Writes the end of the PNG once every row is in; false on failure.
  bool finish();
  const std::string &error() const { return error_; }

 private:
  static void on_error(::png_struct_def *png, const char *message);
  bool write_header(int32_t width, int32_t height, int32_t channels, const ::png_text_struct *texts,
                    int text_count);
  bool write_one_row(const uint8_t *row);
  bool write_end();

  FILE *file_;
  ::png_struct_def *png_ = nullptr;
  ::png_info_def *info_ = nullptr;
  int32_t rows_expected_ = 0;
  int32_t rows_written_ = 0;
  size_t row_bytes_ = 0;
  std::vector<std::pair<std::string, std::string>> texts_;  // keyword, text
  std::string error_;
};

}  // namespace varnel_tool
