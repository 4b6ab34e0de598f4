// The library's own icon, for files with none that can be drawn: a page
// with a folded corner (a diamond for applications), drawn straight at the
// size asked from a 32-unit design, so that it is sharp at every size, with
// the file type's four characters across it.  The characters are drawn by
// the picture decoder in its built-in font, like the text of any picture.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "thumbnail/internal.hpp"

namespace varnel::thumbnail {
namespace {

// The four characters of a file type as the library draws text: a small
// QuickDraw picture (version 2) of black text on white, drawn by
// MacBin_DecodePicture in its built-in fixed-width font of the nearest
// size (5 x 8, 6 x 13, 9 x 15 or 10 x 20 pixels a character), and cropped
// to the ink.  Coverage comes back as alpha over black.
std::optional<Image> draw_type_text(std::string_view mac_type, int32_t point_size) {
  constexpr int16_t kFrameWidth = 96, kFrameHeight = 48, kBaseline = 32, kLeft = 8;
  std::vector<uint8_t> pict;
  const auto word = [&](int32_t value) {
    pict.push_back(static_cast<uint8_t>(value >> 8));
    pict.push_back(static_cast<uint8_t>(value));
  };
  word(0);  // size: unused
  word(0), word(0), word(kFrameHeight), word(kFrameWidth);  // frame: top, left, bottom, right
  word(0x0011), word(0x02FF);                               // version 2
  word(0x0C00), word(0xFFFF), word(0xFFFF);                 // header, version -1, and 20 bytes unused
  for (int i = 0; i < 10; ++i) word(0);
  word(0x000D), word(point_size);  // TxSize
  word(0x0028), word(kBaseline), word(kLeft);             // LongText at (v, h)
  pict.push_back(static_cast<uint8_t>(mac_type.size()));
  pict.insert(pict.end(), mac_type.begin(), mac_type.end());
  if (pict.size() % 2 != 0) pict.push_back(0);  // opcodes start on even offsets
  word(0x00FF);
  DecodedPixels decoded;
  char reason[128] = "";
  if (MacBin_DecodePicture(pict.data(), static_cast<int32_t>(pict.size()), decoded.record(), reason) != 1)
    return std::nullopt;
  const Image canvas(decoded.pixels());
  int32_t left = canvas.width, right = -1, top = canvas.height, bottom = -1;
  for (int32_t y = 0; y < canvas.height; ++y)
    for (int32_t x = 0; x < canvas.width; ++x)
      if (canvas.at(x, y)[0] < 0x80) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  if (right < 0) return std::nullopt;  // nothing printable
  Image ink(right - left + 1, bottom - top + 1);
  for (int32_t y = 0; y < ink.height; ++y)
    for (int32_t x = 0; x < ink.width; ++x) ink.at(x, y)[3] = static_cast<uint8_t>(255 - canvas.at(left + x, top + y)[0]);
  return ink;
}

// The text, as wide as fits `width` x `height`: of the built-in fonts
// enlarged by whole factors (each pixel a square, like the icons) the one
// that comes widest, the larger font of equals; when even the smallest is
// too wide, it is reduced smoothly.
std::optional<Image> type_label(std::string_view mac_type, int32_t width, int32_t height) {
  std::optional<Image> best;
  int32_t best_factor = 0;
  std::optional<Image> smallest;
  for (const int32_t point_size : {18, 14, 12, 8}) {
    std::optional<Image> text = draw_type_text(mac_type, point_size);
    if (!text) return std::nullopt;
    const int32_t factor = std::min(width / text->width, height / text->height);
    if (factor >= 1 && (!best || text->width * factor > best->width * best_factor)) {
      best = text;
      best_factor = factor;
    }
    smallest = std::move(text);
  }
  if (best) return best_factor == 1 ? *best : enlarge(*best, best_factor);
  const double scale =
      std::min(static_cast<double>(width) / smallest->width, static_cast<double>(height) / smallest->height);
  return reduce(smallest->pixels(), std::max(1, static_cast<int32_t>(smallest->width * scale)),
                std::max(1, static_cast<int32_t>(smallest->height * scale)));
}

void blend(uint8_t *pixel, const uint8_t colour[3], uint32_t coverage) {
  for (size_t c = 0; c < 3; ++c)
    pixel[c] = static_cast<uint8_t>((colour[c] * coverage + pixel[c] * (255 - coverage) + 127) / 255);
  pixel[3] = static_cast<uint8_t>(std::max<uint32_t>(pixel[3], coverage));
}

}  // namespace

// A page with a folded corner, or (for applications) a diamond, drawn
// straight at size x size from a 32-unit design, with the type's
// characters across it.
Image generic_icon(std::string_view mac_type, bool application, int32_t size) {
  constexpr uint8_t kBlack[3] = {0, 0, 0};
  constexpr uint8_t kPaper[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  constexpr uint8_t kFold[4] = {0xCC, 0xCC, 0xCC, 0xFF};
  constexpr uint8_t kApplication[4] = {0xCC, 0xCC, 0xFF, 0xFF};
  // The page: 22 x 30 units, the top right corner folded over 7 units.
  constexpr double kLeft = 5, kRight = 27, kTop = 1, kBottom = 31, kFoldSize = 7;
  const double units = size / 32.0;                                   // pixels a unit
  const double line = std::max(1.0, std::round(units)) / units;       // outline width, in units
  Image icon(size, size);
  for (int32_t y = 0; y < size; ++y)
    for (int32_t x = 0; x < size; ++x) {
      const double u = (x + 0.5) / units, v = (y + 0.5) / units;
      uint8_t *pixel = icon.at(x, y);
      if (application) {
        const double distance = std::abs(u - 16) + std::abs(v - 16);
        if (distance > 15) continue;
        std::memcpy(pixel, kApplication, 4);
        if (distance > 15 - line * std::sqrt(2.0)) std::memcpy(pixel, kBlack, 3);
        continue;
      }
      if (u < kLeft || u > kRight || v < kTop || v > kBottom) continue;
      const double past_fold = (u - (kRight - kFoldSize)) - (v - kTop);  // > 0: cut off
      if (past_fold > 0) continue;
      std::memcpy(pixel, kPaper, 4);
      const bool edge = u < kLeft + line || u > kRight - line || v < kTop + line || v > kBottom - line ||
                        past_fold > -line * std::sqrt(2.0);
      const bool in_fold = u >= kRight - kFoldSize && v <= kTop + kFoldSize;
      if (in_fold) std::memcpy(pixel, kFold, 4);
      if (edge || (in_fold && (u < kRight - kFoldSize + line || v > kTop + kFoldSize - line)))
        std::memcpy(pixel, kBlack, 3);
    }
  // The label: across the page below the fold, or across the diamond.
  const double label_left = application ? 8.5 : kLeft + 2.5, label_right = application ? 23.5 : kRight - 2.5;
  const double label_top = application ? 12.5 : 14, label_bottom = application ? 19.5 : 24;
  std::string printable(mac_type);
  while (!printable.empty() && (printable.back() == ' ' || printable.back() == '\0')) printable.pop_back();
  if (printable.empty()) return icon;
  const auto box_width = static_cast<int32_t>((label_right - label_left) * units);
  const auto box_height = static_cast<int32_t>((label_bottom - label_top) * units);
  if (box_width < 1 || box_height < 1) return icon;
  const std::optional<Image> label = type_label(printable, box_width, box_height);
  if (!label) return icon;
  const int32_t left = static_cast<int32_t>(label_left * units) + (box_width - label->width) / 2;
  const int32_t top = static_cast<int32_t>(label_top * units) + (box_height - label->height) / 2;
  for (int32_t y = 0; y < label->height; ++y)
    for (int32_t x = 0; x < label->width; ++x)
      if (left + x >= 0 && left + x < size && top + y >= 0 && top + y < size)
        blend(icon.at(left + x, top + y), kBlack, label->at(x, y)[3]);
  return icon;
}

}  // namespace varnel::thumbnail
