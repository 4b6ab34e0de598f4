// Private to decode/: never installed, never included from another folder.
//
// What the decoders share: the error they throw (caught at the C boundary,
// where it becomes the one-line reason), a bounded big-endian reader, the
// RGBA canvas, the standard colour tables, colour tables and pixel maps as
// resources and pictures store them, and the decoders of each resource kind.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "varnel.h"

namespace varnel::decode {

// Every reason a decoder stops; the text is the caller's error line.
class DecodeError : public std::runtime_error {
 public:
  explicit DecodeError(const std::string &reason) : std::runtime_error(reason) {}
};

// A picture frame, or a pixel image, may be at most this wide and high, and
// hold at most this many pixels: a 16384 x 16384 canvas is 1 GiB of RGBA.
inline constexpr int32_t kMaxSidePixels = 16384;
inline constexpr int64_t kMaxCanvasPixels = int64_t{256} * 1024 * 1024;

// The most bytes a picture's canvas may take (MacBin_SetPictureMemoryLimit).
int64_t picture_canvas_limit();

// Big-endian fields read from a span; reading past its end throws, naming
// `what` (e.g. "the cicn data").
class Reader {
 public:
  Reader(std::span<const uint8_t> bytes, std::string what) : bytes_(bytes), what_(std::move(what)) {}

  size_t position() const { return position_; }
  size_t remaining() const { return bytes_.size() - position_; }
  size_t size() const { return bytes_.size(); }
  std::span<const uint8_t> all() const { return bytes_; }

  void need(size_t count) const {
    if (count > remaining()) throw DecodeError(what_ + " is cut short");
  }
  void seek(size_t offset) {
    if (offset > bytes_.size()) throw DecodeError(what_ + " is cut short");
    position_ = offset;
  }
  void skip(size_t count) {
    need(count);
    position_ += count;
  }
  uint32_t u8() {
    need(1);
    return bytes_[position_++];
  }
  uint32_t u16() {
    need(2);
    const uint32_t value = (uint32_t{bytes_[position_]} << 8) | bytes_[position_ + 1];
    position_ += 2;
    return value;
  }
  int32_t s16() { return static_cast<int16_t>(static_cast<uint16_t>(u16())); }
  uint32_t u32() {
    const uint32_t high = u16();
    return (high << 16) | u16();
  }
  std::span<const uint8_t> bytes(size_t count) {
    need(count);
    const std::span<const uint8_t> part = bytes_.subspan(position_, count);
    position_ += count;
    return part;
  }
  const std::string &what() const { return what_; }
  void set_what(std::string what) { what_ = std::move(what); }

 private:
  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
  std::string what_;
};

struct Rgba {
  uint8_t red, green, blue, alpha;
  bool operator==(const Rgba &) const = default;
};
inline constexpr Rgba kWhite{0xFF, 0xFF, 0xFF, 0xFF};
inline constexpr Rgba kBlack{0x00, 0x00, 0x00, 0xFF};
inline constexpr Rgba kClear{0x00, 0x00, 0x00, 0x00};

// QuickDraw rectangles: top, left, bottom, right (bottom and right outside).
struct Rect {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }
};
Rect read_rect(Reader &reader);
Rect intersect(const Rect &a, const Rect &b);

// The image being made: allocated once its size has been checked, filled,
// then handed to the caller's MacBinPixels (which frees it with free()).
class Canvas {
 public:
  Canvas() = default;
  // Throws DecodeError for a size outside 1..kMaxSidePixels or beyond
  // kMaxCanvasPixels, and when the memory is not there.
  Canvas(int32_t width, int32_t height, Rgba fill);

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  uint8_t *pixel(int32_t x, int32_t y) {
    return rgba_.get() + (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 4;
  }
  void set(int32_t x, int32_t y, Rgba colour) {
    uint8_t *p = pixel(x, y);
    p[0] = colour.red, p[1] = colour.green, p[2] = colour.blue, p[3] = colour.alpha;
  }
  Rgba get(int32_t x, int32_t y) {
    const uint8_t *p = pixel(x, y);
    return Rgba{p[0], p[1], p[2], p[3]};
  }
  // Moves the pixels into `pixels`; the canvas is empty afterwards.
  void hand_over(MacBinPixels *pixels, int32_t hot_x = 0, int32_t hot_y = 0);

 private:
  struct FreeDeleter {
    void operator()(uint8_t *p) const;
  };
  int32_t width_ = 0, height_ = 0;
  std::unique_ptr<uint8_t, FreeDeleter> rgba_;
};

// The standard system colour tables for 1, 2, 4 and 8 bits a pixel (2, 4,
// 16 and 256 entries), white first and black last.
std::span<const Rgba> system_palette(int32_t bits);

// A colour table as pixel maps carry it, looked up by pixel value.
struct ColorTable {
  std::array<Rgba, 256> colours{};
  uint32_t entries = 0;  // entries stored (the swatch draws them in order)
  std::vector<Rgba> in_order;
};
// Reads ctSeed, ctFlags, ctSize and the entries.  A value beyond 255 in a
// table that is not a device table is taken modulo 256 (pixels have at most
// 8 bits); values that no entry gives stay black.
ColorTable read_color_table(Reader &reader);
// A pltt resource: entry count, 14 reserved bytes, 16-byte entries.
ColorTable read_palette(Reader &reader);

// A pixel map's or bit map's description, without the base address.
struct PixelMap {
  uint32_t row_bytes = 0;  // without the flag bits
  bool is_pixel_map = false;
  Rect bounds;
  uint32_t pack_type = 0;
  uint32_t pixel_type = 0;
  uint32_t pixel_size = 1;
  uint32_t component_count = 1;
  uint32_t component_size = 1;
  uint32_t table_offset = 0;  // in resources: where the colour table is
};
// rowBytes (with its flag) and the rest of a PixMap or BitMap record as
// pictures and resources store them (a resource's record starts with a
// 4-byte base address, which the caller skips).
PixelMap read_pixel_map(Reader &reader, bool force_pixel_map);
// Throws unless the map is one this decoder draws: indexed 1, 2, 4, 8 bits
// or direct 16 and 32 bits, with row bytes that hold a row.
void check_pixel_map(const PixelMap &map, const std::string &what);

// A colour pixel map kept apart from its rows, as crsr and ppat resources
// keep it: the record (after its 4-byte base address) at `map_offset`, its
// colour table where the record says (indexed maps only), checked as
// check_pixel_map does.  The rows, unpacked, are the caller's to find.
struct DetachedPixelMap {
  PixelMap map;
  ColorTable table;
  // The colours of the rows: the map's table, or none for direct pixels.
  const ColorTable *colours() const { return map.pixel_type != 0 ? nullptr : &table; }
};
DetachedPixelMap read_detached_pixel_map(Reader &reader, uint32_t map_offset, const std::string &what);

// Rows of a pixel image, one at a time, each turned into RGBA of the
// bounds' width.  For indexed maps, `table` gives the colours (null: the
// bit map's black on white, or the system table of that depth).
class PixelRows {
 public:
  // `packed`: rows as pictures store them (counts and PackBits when the row
  // bytes are 8 or more); else rows of row_bytes bytes each, as resources
  // store them.
  PixelRows(const PixelMap &map, const ColorTable *table, bool packed, Rgba foreground,
            Rgba background);
  // Decodes the next row from `reader` into `row` (bounds width x RGBA);
  // throws when the data are cut short.
  void next(Reader &reader, std::span<Rgba> row);
  // For 1-bit maps: the raw bit of pixel x of the last row (for modes that
  // look at set bits rather than colours).
  int32_t width() const { return map_.bounds.width(); }

 private:
  PixelMap map_;
  const ColorTable *table_;
  bool packed_;
  Rgba foreground_, background_;
  std::vector<uint8_t> raw_;
  std::vector<uint8_t> unpacked_;
  // Whether packed rows carry a count word rather than a count byte: set
  // from the first packed row.
  bool counts_decided_ = false;
  bool word_counts_ = false;
};

// Pixel x of a 1-bit row (leftmost in the high bit), and of n-bit rows.
inline uint32_t bit_at(std::span<const uint8_t> row, size_t x) {
  return (row[x / 8] >> (7 - x % 8)) & 1;
}
inline uint32_t index_at(std::span<const uint8_t> row, size_t x, uint32_t bits) {
  const size_t bit = x * bits;
  return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

// ---- Regions ----------------------------------------------------------------

// A QuickDraw region (size word, bounding box, scan lines of inversion
// points), answering "is this point inside" for points of a window.
class Region {
 public:
  Region() = default;  // everything (no clipping)
  // Reads a region from `reader` (checked against its stated size).  The
  // scan lines are kept as bytes and rasterised, inside `window` only, the
  // first time contains() is asked.
  static Region read(Reader &reader, const Rect &window);
  static Region of_rect(const Rect &rect);

  bool unbounded() const { return unbounded_; }
  // Whether the region is its box (or everything): no point needs testing.
  bool is_rectangle() const { return unbounded_ || rectangular_; }
  Rect box() const {
    return Rect{box_.top + shift_y_, box_.left + shift_x_, box_.bottom + shift_y_, box_.right + shift_x_};
  }
  bool contains(int32_t x, int32_t y);
  // Moves the region by (dx, dy): a region read in a picture's local
  // coordinates, put where its origin places it.
  void move_by(int32_t dx, int32_t dy) { shift_x_ += dx, shift_y_ += dy; }

 private:
  void rasterise();
  bool unbounded_ = true;
  bool rectangular_ = true;
  int32_t shift_x_ = 0, shift_y_ = 0;
  Rect box_;
  Rect window_;
  std::vector<uint8_t> scan_lines_;  // the bytes after the box
  bool rasterised_ = false;
  size_t words_per_row_ = 0;
  std::vector<uint64_t> bits_;
};

// ---- Resource decoders -------------------------------------------------------
// Each fills `canvas` from the resource's bytes (and, for icons, the mask
// resource's bytes, empty when there is none) or throws DecodeError.

bool is_icon_type(std::string_view type);
// The family's mask type for an icon type ("ICN#" for "icl8"), or "" when
// the type carries its own mask or none.
std::string_view icon_mask_type(std::string_view type);
Canvas decode_icon(std::string_view type, std::span<const uint8_t> data,
                   std::span<const uint8_t> mask);
Canvas decode_color_icon(std::span<const uint8_t> data);
struct CursorImage {
  Canvas canvas;
  int32_t hot_x = 0, hot_y = 0;
};
CursorImage decode_cursor(std::span<const uint8_t> data);        // CURS
CursorImage decode_color_cursor(std::span<const uint8_t> data);  // crsr
Canvas decode_pattern(std::span<const uint8_t> data);            // PAT
Canvas decode_pattern_list(std::span<const uint8_t> data);       // PAT#
Canvas decode_pixel_pattern(std::span<const uint8_t> data);      // ppat
Canvas decode_pixel_pattern_list(std::span<const uint8_t> data); // ppt#
Canvas decode_color_swatch(std::string_view type, std::span<const uint8_t> data);  // clut, pltt

// Draws a cursor-style 1-bit image and mask at (x0, y0) of `canvas`: set
// data inside the mask black, clear data inside the mask white, outside the
// mask transparent, set data outside the mask (inverting) black.
void draw_masked_bits(Canvas &canvas, int32_t x0, int32_t y0, int32_t side,
                      std::span<const uint8_t> data, std::span<const uint8_t> mask);

// ---- Pictures ------------------------------------------------------------

// Decodes a picture; `notes` receives what was skipped ("" when all was
// drawn).  Text takes its fonts from `font_file` (the reading channel the
// picture is in, read at the first text; may be null), then from those
// hosts added, then from the built-in font.  Throws DecodeError when it
// cannot read on.
Canvas decode_picture(std::span<const uint8_t> data, std::string &notes, MacBinChannel *font_file = nullptr);

// Copies `text` into a caller's 128-byte error buffer (cut, NUL-terminated).
void set_error(char error[128], std::string_view text);

}  // namespace varnel::decode
