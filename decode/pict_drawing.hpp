// Private to decode/: the drawing side of pictures, which the opcode parser
// drives.  The parser reads each opcode's operands and keeps the graphics
// state; a drawing operation gets values in the picture's coordinates (the
// parser has taken the origin off) and draws into the canvas, clipped to
// it, to the clip region and, for images, to their own mask region.
//
// Every pixel a drawing operation visits counts against a budget in
// proportion to the canvas, so that no picture, however small, can ask
// for unbounded work: past it, drawing stops with a reason.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "decode/internal.hpp"
#include "decode/shapes.hpp"

namespace varnel::decode {

// Transfer modes.  0-7 take a source image, 8-15 a pattern (the same four
// operations, the "not" forms with the source inverted first); 32-39 and
// 50 mix colours; 0x40 asks for dithering, which a copy to RGBA does not
// need.
enum TransferMode : uint32_t {
  kSrcCopy = 0, kSrcOr = 1, kSrcXor = 2, kSrcBic = 3,
  kNotSrcCopy = 4, kNotSrcOr = 5, kNotSrcXor = 6, kNotSrcBic = 7,
  kPatCopy = 8, kPatOr = 9, kPatXor = 10, kPatBic = 11,
  kBlend = 32, kAddPin = 33, kAddOver = 34, kSubPin = 35, kTransparent = 36, kAddMax = 37,
  kSubOver = 38, kAddMin = 39, kHilite = 50,
};
inline constexpr uint32_t kDitherFlag = 0x40;
// Whether `mode` (without the dither flag) is one the engine draws.
bool is_drawn_mode(uint32_t mode);

// A 16-bit-a-channel colour, as OpColor gives the blend weights and pins.
struct Rgb16 {
  uint32_t red = 0, green = 0, blue = 0;
};

// A pattern: 8 x 8 bits drawn in the foreground (set) and background
// colours, or a tile of its own colours (a pixel pattern).
struct Pattern {
  std::array<uint8_t, 8> bits{};
  std::vector<Rgba> tile;  // rows top first, tile_width x tile_height; empty: the bits
  int32_t tile_width = 0, tile_height = 0;

  static Pattern solid(bool black) {
    Pattern pattern;
    pattern.bits.fill(black ? 0xFF : 0x00);
    return pattern;
  }
};

// The highlight colour until a picture sets one: a light blue.
inline constexpr Rgba kDefaultHilite{0x99, 0x99, 0xFF, 0xFF};

// The graphics port state the drawing operations use.
struct PortState {
  Rgba foreground = kBlack;
  Rgba background = kWhite;
  Region clip;  // unbounded until a clip opcode sets one
  Rgb16 op_colour;  // OpColor: the blend weights and the pins of addPin and subPin
  Rgba hilite = kDefaultHilite;  // HiliteColor, for the hilite mode
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

// Thrown when the drawing work of one picture passes its budget.
class WorkExhausted : public std::runtime_error {
 public:
  WorkExhausted() : std::runtime_error("drawing work limit") {}
};

class PictureCanvas {
 public:
  // `frame`: the picture frame, whose size the canvas has; `coordinates`:
  // the rectangle of the picture's own coordinates that maps onto it (the
  // frame itself, or an extended header's source rectangle).
  // `work_per_pixel`: the budget, in pixel visits per canvas pixel.
  PictureCanvas(const Rect &frame, const Rect &coordinates, int64_t work_per_pixel);

  Canvas &canvas() { return canvas_; }
  const Rect &coordinates() const { return coordinates_; }
  // The part of the picture's coordinates that can be seen through the
  // clip region's box.
  Rect visible(PortState &state) const;

  // Decodes the image's rows from `reader` (all of them, whatever is drawn)
  // and draws the part its source rectangle selects, scaled to its
  // destination.  Returns false when the mode is not one drawn (the image
  // is then drawn as srcCopy).
  bool draw_pixels(Reader &reader, const PixelImage &image, PortState &state);

  // Draws the pixels of `shape` through the clip region: each takes the
  // pattern's colour at its place (patterns are aligned to the picture's
  // coordinates) and mixes it with the canvas by `mode`.  Returns false
  // when the mode is not one drawn (then drawn as patCopy).
  bool fill(const SpanRows &shape, const Pattern &pattern, uint32_t mode, PortState &state);
  // Draws the set pixels of a 1-bit image `width` x `height` whose top
  // left pixel is at (x, y), in the foreground colour, by `mode` (srcOr,
  // srcXor, srcBic, srcCopy and the others).  For text.
  bool draw_mask(const std::vector<uint8_t> &bits, int32_t width, int32_t height, int32_t x, int32_t y,
                 uint32_t mode, PortState &state);

  // Counts `pixels` visits against the budget; throws WorkExhausted past it.
  void spend(int64_t pixels);

 private:
  int32_t to_canvas_x(int32_t x) const;
  int32_t to_canvas_y(int32_t y) const;
  int32_t to_picture_x(int32_t x) const;
  int32_t to_picture_y(int32_t y) const;

  Rect coordinates_;
  Canvas canvas_;
  // The picture point at the centre of each canvas column and row.
  std::vector<int32_t> picture_x_, picture_y_;
  bool identity_ = true;  // the canvas shows the coordinates one to one
  int64_t budget_ = 0;
};

}  // namespace varnel::decode
