// Private to decode/: the drawing side of pictures, which the opcode parser
// drives.  The parser reads each opcode's operands; a drawing operation
// gets them as values (and the reader positioned at its pixel data) and
// draws into the canvas, clipped to it, to the clip region and to its own
// mask region.  Lines, shapes, patterns and text get operations of their
// own here as they are drawn.
#pragma once

#include <string>

#include "decode/internal.hpp"

namespace varnel::decode {

// Transfer modes: the low bits; 0x40 asks for dithering, which a copy to
// RGBA does not need.
enum TransferMode : uint32_t { kSrcCopy = 0, kSrcOr = 1, kSrcXor = 2, kSrcBic = 3 };
inline constexpr uint32_t kDitherFlag = 0x40;

// The graphics port state the drawing operations use.
struct PortState {
  Rgba foreground = kBlack;
  Rgba background = kWhite;
  Region clip;  // unbounded until a clip opcode sets one
};

// A pixel image as a drawing operation gets it.
struct PixelImage {
  PixelMap map;
  const ColorTable *table = nullptr;  // indexed pixel maps with a table
  bool packed = true;                 // rows counted and packed when wide enough
  Rect source, destination;
  uint32_t mode = kSrcCopy;
  Region *mask = nullptr;             // the Rgn forms' region
};

class PictureCanvas {
 public:
  // `frame`: the picture frame, whose size the canvas has; `coordinates`:
  // the rectangle of the picture's own coordinates that maps onto it (the
  // frame itself, or an extended header's source rectangle).
  PictureCanvas(const Rect &frame, const Rect &coordinates);

  Canvas &canvas() { return canvas_; }
  const Rect &coordinates() const { return coordinates_; }

  // Decodes the image's rows from `reader` (all of them, whatever is drawn)
  // and draws the part its source rectangle selects, scaled to its
  // destination.  Returns false when the mode is not one drawn (the image
  // is then drawn as srcCopy).
  bool draw_pixels(Reader &reader, const PixelImage &image, PortState &state);

 private:
  int32_t to_canvas_x(int32_t x) const;
  int32_t to_canvas_y(int32_t y) const;
  int32_t to_picture_x(int32_t x) const;
  int32_t to_picture_y(int32_t y) const;

  Rect coordinates_;
  Canvas canvas_;
};

}  // namespace varnel::decode
