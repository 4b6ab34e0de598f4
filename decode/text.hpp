// Private to decode/: drawing a run of text from a bitmap strike.
#pragma once

#include <cstdint>
#include <span>

#include "decode/fonts.hpp"
#include "decode/pict_drawing.hpp"

namespace varnel::decode {

struct TextStyle {
  uint32_t face = 0;            // FontStyle bits
  uint32_t mode = kSrcOr;       // TxMode
  int32_t space_extra = 0;      // SpExtra, in 1/65536 pixels
  int32_t char_extra = 0;       // ChExtra, in 1/65536 pixels
};

// Draws `text` with the left end of its baseline at `origin` (picture
// coordinates), inside `window`.  Returns the run's width.
int32_t draw_text(PictureCanvas &canvas, PortState &state, const FontStrike &strike,
                  std::span<const uint8_t> text, Point origin, const TextStyle &style, const Rect &window);

}  // namespace varnel::decode
