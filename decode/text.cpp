// Text: a run of characters drawn from a bitmap strike into a 1-bit mask,
// with the styles QuickDraw derives from the plain strike, then through
// the text mode in the foreground colour.
//   bold       each glyph also drawn one pixel to the right; advance + 1
//   italic     rows shifted right by half their height above the baseline
//   underline  a line one row below the baseline, the run's length
//   outline    the pixels next to the glyph's, not its own; advance + 1
//   shadow     the outline, and the outline again one pixel down and right;
//              advance + 2
//   condense   advance - 1;  extend: advance + 1
// Space and character extra widen spaces and every character.
#include <algorithm>
#include <vector>

#include "decode/text.hpp"

namespace varnel::decode {
namespace {

// Margins the styles may reach past the glyphs' own box.
constexpr int32_t kStyleMargin = 2;

}  // namespace

int32_t draw_text(PictureCanvas &canvas, PortState &state, const FontStrike &strike,
                  std::span<const uint8_t> text, Point origin, const TextStyle &style, const Rect &window) {
  const uint32_t face = style.face;
  const int32_t ascent = strike.ascent(), height = strike.height();
  const int32_t italic_reach = face & kItalic ? (ascent + 1) / 2 : 0;
  int32_t style_advance = 0;
  if (face & kBold) style_advance += 1;
  if (face & kOutline) style_advance += 1;
  if (face & kShadow) style_advance += 2;
  if (face & kCondense) style_advance -= 1;
  if (face & kExtend) style_advance += 1;

  // Pen positions, in 1/65536 pixels (space extra is a fraction).
  std::vector<int32_t> pens;
  int64_t pen = 0;
  int32_t left_reach = 0;
  for (const uint8_t c : text) {
    pens.push_back(static_cast<int32_t>(pen >> 16));
    const FontStrike::Glyph glyph = strike.glyph(c);
    left_reach = std::min(left_reach, static_cast<int32_t>(pen >> 16) + glyph.offset);
    pen += (int64_t{glyph.advance + style_advance} << 16) + style.char_extra;
    if (c == ' ') pen += style.space_extra;
  }
  const auto run_width = static_cast<int32_t>(pen >> 16);
  // The mask: the run's box with room for the styles, cut to the window.
  const int32_t top = origin.y - ascent - kStyleMargin;
  const int32_t mask_height = height + 2 * kStyleMargin + 1;
  int32_t left = origin.x + left_reach - kStyleMargin;
  int32_t right = origin.x + std::max(run_width, 0) + 255 + italic_reach + kStyleMargin;
  left = std::max(left, window.left), right = std::min(right, window.right);
  if (right <= left || top >= window.bottom || top + mask_height <= window.top) return run_width;
  const int32_t width = right - left;
  canvas.spend(int64_t{width} * mask_height);
  std::vector<uint8_t> glyphs(static_cast<size_t>(width) * static_cast<size_t>(mask_height), 0);
  const auto set = [&](std::vector<uint8_t> &mask, int32_t x, int32_t y) {
    x -= left, y -= top;
    if (x >= 0 && x < width && y >= 0 && y < mask_height)
      mask[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = 1;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const FontStrike::Glyph glyph = strike.glyph(text[i]);
    const int32_t x0 = origin.x + pens[i] + glyph.offset;
    if (x0 + glyph.image_width + italic_reach + 2 < left || x0 - italic_reach > right) continue;
    for (int32_t row = 0; row < height; ++row) {
      const int32_t shift = face & kItalic ? (ascent - 1 - row) / 2 : 0;
      for (int32_t column = 0; column < glyph.image_width; ++column) {
        if (!strike.pixel(glyph.image_left + column, row)) continue;
        const int32_t x = x0 + column + shift, y = origin.y - ascent + row;
        set(glyphs, x, y);
        if (face & kBold) set(glyphs, x + 1, y);
      }
    }
  }
  const auto at = [&](const std::vector<uint8_t> &mask, int32_t x, int32_t y) {
    return x >= 0 && x < width && y >= 0 && y < mask_height &&
           mask[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] != 0;
  };
  std::vector<uint8_t> ink = glyphs;
  if (face & (kOutline | kShadow)) {
    // The pixels next to the glyphs' (and, for shadow, next to them moved
    // down and right), less the glyphs' own.
    std::fill(ink.begin(), ink.end(), 0);
    const bool shadow = (face & kShadow) != 0;
    for (int32_t y = 0; y < mask_height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        if (at(glyphs, x, y)) continue;
        bool near = false;
        for (int32_t dy = -1; dy <= 1; ++dy)
          for (int32_t dx = -1; dx <= 1; ++dx)
            near = near || at(glyphs, x + dx, y + dy) || (shadow && at(glyphs, x - 1 + dx, y - 1 + dy));
        if (near) ink[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = 1;
      }
  }
  if (face & kUnderline)
    for (int32_t x = origin.x; x < origin.x + run_width; ++x) set(ink, x, origin.y + 1);
  canvas.draw_mask(ink, width, mask_height, left, top, style.mode, state);
  return run_width;
}

}  // namespace varnel::decode
