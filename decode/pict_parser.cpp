// QuickDraw pictures: the header, then opcodes to the end opcode, each
// read by its own length rule so that nothing is guessed:
//
//   picture  size (2, often wrong for large pictures: unused), frame (8),
//            then version 1: 11 01 and one-byte opcodes, no alignment;
//            version 2: 0011 02FF, then two-byte opcodes at even offsets,
//            usually a header 0C00 of 24 bytes first (version -1: a fixed
//            bounding box; -2, extended: resolution and the source
//            rectangle of the picture's own coordinates).
//
//   data of an opcode                                   opcodes
//   none                                                0000 0017-0019 001C 001E
//                                                       0038-003F 0048-004F 0058-005F
//                                                       0078-007F 0088-008F 00B0-00CF
//                                                       8000-80FF
//   fixed: 1 (0004), 2 (0003 0005 0008 000D 0015 0016 0023 00A0),
//          4 (0006 0007 000B 000C 000E 000F 0021 0068-006F),
//          6 (001A 001B 001D 001F 0022), 8 (0002 0009 000A 0010 0020
//          0030-0037 0040-0047 0050-0057), 12 (0060-0067)
//   the version: 1 byte (version 1), 2 bytes (version 2)  0011
//   a length word, then that many bytes                 0024-0027 002C-002F 0092-0097
//                                                       009C-009F 00A2-00AF
//   a length long, then that many bytes                 00D0-00FE 8100-FFFF
//   2 x the high byte                                   0100-7FFF (0C00: 24; 02FF: 2)
//   a region (its size word counts itself)              0001 0080-0087
//   a polygon (its size word counts itself)             0070-0077
//   text: point (4) / dh (1) / dv (1) / dh dv (2),      0028 / 0029 / 002A / 002B
//         then a count byte and the characters
//   a long comment: kind (2), size (2), data            00A1
//   a pixel pattern: type (2), 8 bytes, then an RGB     0012-0014
//         colour (type 2) or a pixel map, its colour
//         table and its rows (type 1)
//   a bit or pixel image (below)                        0090 0091 0098 0099 009A 009B
//   end of the picture                                  00FF
//
// Bit and pixel images: row bytes (2; the top bit marks a pixel map) and
// the rest of the bit map or pixel map, a colour table for an indexed pixel
// map, the source and destination rectangles, the mode (2), the mask region
// of the Rgn forms, then the rows.  009A and 009B start with a 4-byte base
// address and always have a pixel map, without a colour table.
#include <algorithm>
#include <vector>

#include "decode/pict_drawing.hpp"
#include "format/pict_opcodes.hpp"
#include "decode/shapes.hpp"
#include "decode/text.hpp"

namespace varnel::decode {
namespace {

constexpr size_t kPictureHeaderBytes = 10;  // size and frame
constexpr size_t kErrorRoom = 127;

std::string hex_opcode(uint32_t opcode) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[(opcode >> shift) & 0xF];
  return text;
}

// The old eight colours of version 1 pictures' FgColor and BkColor.
Rgba old_colour(uint32_t value) {
  switch (value) {
    case 30: return kWhite;
    case 69: return Rgba{0xFC, 0xF3, 0x05, 0xFF};   // yellow
    case 137: return Rgba{0xF2, 0x08, 0x84, 0xFF};  // magenta
    case 205: return Rgba{0xDD, 0x08, 0x06, 0xFF};  // red
    case 273: return Rgba{0x02, 0xAB, 0xEA, 0xFF};  // cyan
    case 341: return Rgba{0x1F, 0xB7, 0x14, 0xFF};  // green
    case 409: return Rgba{0x00, 0x00, 0xD4, 0xFF};  // blue
    default: return kBlack;                         // 33, and anything unknown
  }
}

Rgba read_rgb(Reader &reader) {
  const uint32_t red = reader.u16(), green = reader.u16(), blue = reader.u16();
  return Rgba{static_cast<uint8_t>(red >> 8), static_cast<uint8_t>(green >> 8),
              static_cast<uint8_t>(blue >> 8), 0xFF};
}

// Shape verbs: the low three bits of a shape opcode.
enum Verb : uint32_t { kFrame = 0, kPaint = 1, kErase = 2, kInvert = 3, kFill = 4 };

// The drawing work allowed, in pixel visits per canvas pixel: enough for
// pictures that paint each pixel dozens of times over.
constexpr int64_t kWorkPerCanvasPixel = 64;

// The graphics state a picture sets, in its local coordinates.
struct DrawingState {
  Point origin;  // local point (0, 0) is picture point -origin
  Point pen;
  Point pen_size{1, 1};
  uint32_t pen_mode = kPatCopy;
  Pattern pen_pattern = Pattern::solid(true);
  Pattern fill_pattern = Pattern::solid(true);
  Pattern background_pattern = Pattern::solid(false);
  Point oval_size;
  // What the "same" opcodes draw again: one rectangle for rectangles,
  // round rectangles, ovals and arcs (as QuickDraw records them), the last
  // arc's angles, polygon and region.
  Rect last_rect;
  int32_t last_start = 0, last_arc = 0;
  std::vector<Point> last_polygon;
  std::vector<uint8_t> last_region;
  // Text.
  Point text_location;
  int32_t font = 0;
  std::vector<std::pair<int32_t, std::string>> font_names;  // FontName: ID and name
  int32_t text_size = 0;  // 0: the system font's size, 12
  TextStyle text_style;
};

class PictureParser {
 public:
  PictureParser(std::span<const uint8_t> data, MacBinChannel *font_file)
      : reader_(data, "the picture"), font_file_(font_file) {}

  Canvas run(std::string &notes);

 private:
  void read_header();
  // Reads one opcode's data, drawing what is drawn.  False at the end.
  bool step(uint32_t opcode);
  Pattern read_pixel_pattern();
  void bits(uint32_t opcode);
  void note(const std::string &what);

  Point read_point();
  Point to_picture(Point local) const { return Point{local.x - draw_.origin.x, local.y - draw_.origin.y}; }
  Rect to_picture(const Rect &local) const {
    return Rect{local.top - draw_.origin.y, local.left - draw_.origin.x, local.bottom - draw_.origin.y,
                local.right - draw_.origin.x};
  }
  // Draws `shape` as `verb` asks: the pen's pattern and mode (frame,
  // paint), the background pattern (erase), inverted (invert) or the fill
  // pattern (fill).
  void draw(uint32_t opcode, uint32_t verb, const SpanRows &shape);
  void line(Point from, Point to);
  void shape_opcode(uint32_t opcode);
  SpanRows region_shape(std::span<const uint8_t> region_bytes, uint32_t verb);
  void text(Point location);
  void font_name();
  void skip_data(uint32_t op);

  Reader reader_;
  bool version_2_ = false;
  Rect frame_;
  Rect coordinates_;
  std::unique_ptr<PictureCanvas> canvas_;
  PortState state_;
  DrawingState draw_;
  std::vector<std::string> skipped_;
  // The fonts of the file the picture is in, read at its first text.
  MacBinChannel *font_file_;
  std::unique_ptr<FontSet> file_fonts_;
  std::shared_ptr<const FontSet> host_fonts_;
};

void PictureParser::note(const std::string &what) {
  if (std::find(skipped_.begin(), skipped_.end(), what) == skipped_.end()) skipped_.push_back(what);
}

Point PictureParser::read_point() {
  const int32_t y = reader_.s16();
  const int32_t x = reader_.s16();
  return Point{x, y};
}

void PictureParser::read_header() {
  reader_.need(kPictureHeaderBytes + 2);
  reader_.skip(2);
  frame_ = read_rect(reader_);
  const std::span<const uint8_t> all = reader_.all();
  if (all[10] == 0x11 && all[11] == 0x01) {
    reader_.skip(2);
  } else if (reader_.remaining() >= 4 && all[10] == 0x00 && all[11] == 0x11 && all[12] == 0x02 &&
             all[13] == 0xFF) {
    version_2_ = true;
    reader_.skip(4);
  } else {
    throw DecodeError("not a QuickDraw picture: no version opcode after the frame");
  }
  const int64_t width = int64_t{frame_.right} - frame_.left, height = int64_t{frame_.bottom} - frame_.top;
  if (width <= 0 || height <= 0)
    throw DecodeError("picture frame is empty (" + std::to_string(width) + " x " + std::to_string(height) + ")");
  if (width > kMaxSidePixels || height > kMaxSidePixels || width * height > kMaxCanvasPixels)
    throw DecodeError("picture frame " + std::to_string(width) + " x " + std::to_string(height) +
                      " is larger than 16384 x 16384");
  const int64_t limit = picture_canvas_limit();
  if (width * height * 4 > limit) {
    const auto mib = [](int64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB"; };
    throw DecodeError("picture frame " + std::to_string(width) + " x " + std::to_string(height) + " needs " +
                      mib(width * height * 4) + ", more than the limit of " + mib(limit));
  }
  coordinates_ = frame_;
  // An extended version 2 header gives the rectangle of the picture's own
  // coordinates (at its resolution); it is drawn onto the frame, at 72 dpi.
  if (version_2_ && reader_.remaining() >= 2 + 24 && reader_.all()[reader_.position()] == 0x0C &&
      reader_.all()[reader_.position() + 1] == 0x00) {
    reader_.skip(2);
    const uint32_t header_version = reader_.u16();
    if (header_version == format::kPictExtendedHeaderVersion) {
      reader_.skip(2 + 4 + 4);  // reserved, horizontal and vertical resolution
      const Rect source = read_rect(reader_);
      reader_.skip(4);
      if (!source.empty()) coordinates_ = source;
    } else {
      reader_.skip(22);
    }
  }
}

// PnPixPat, FillPixPat, BkPixPat: type (2), the old 8 x 8 pattern (8),
// then an RGB colour (type 2, a dithered colour: drawn plain) or a pixel
// map, its colour table and its rows (type 1).
Pattern PictureParser::read_pixel_pattern() {
  // Tiles larger than this are read past and drawn as their 8 x 8 bits.
  constexpr int64_t kMaxTilePixels = 256 * 256;
  const uint32_t type = reader_.u16();
  Pattern pattern;
  const std::span<const uint8_t> bits = reader_.bytes(8);
  std::copy(bits.begin(), bits.end(), pattern.bits.begin());
  if (type == 2) {
    pattern.tile.assign(1, read_rgb(reader_));
    pattern.tile_width = pattern.tile_height = 1;
  } else if (type == 1) {
    const PixelMap map = read_pixel_map(reader_, true);
    check_pixel_map(map, "pixel pattern");
    const ColorTable table = read_color_table(reader_);
    PixelRows rows(map, &table, true, kBlack, kWhite);
    const int32_t width = map.bounds.width(), height = map.bounds.height();
    const bool kept = int64_t{width} * height <= kMaxTilePixels;
    std::vector<Rgba> row(static_cast<size_t>(width));
    for (int32_t y = 0; y < height; ++y) {
      canvas_->spend(width);
      rows.next(reader_, row);
      if (kept) pattern.tile.insert(pattern.tile.end(), row.begin(), row.end());
    }
    if (kept) {
      pattern.tile_width = width;
      pattern.tile_height = height;
    } else {
      note("pixel pattern over 256 x 256");
    }
  } else if (type != 0) {
    throw DecodeError("pixel pattern of type " + std::to_string(type));
  }
  return pattern;
}

void PictureParser::bits(uint32_t opcode) {
  const bool direct = opcode == 0x009A || opcode == 0x009B;
  const bool region = (opcode & 1) != 0;
  if (direct) reader_.skip(4);  // base address
  PixelImage image;
  image.map = read_pixel_map(reader_, direct);
  check_pixel_map(image.map, hex_opcode(opcode) + " image");
  ColorTable table;
  if (image.map.is_pixel_map && !direct) {
    table = read_color_table(reader_);
    image.table = &table;
  }
  image.source = read_rect(reader_);
  image.destination = to_picture(read_rect(reader_));
  image.mode = reader_.u16();
  Region mask;
  if (region) {
    const Rect window = canvas_->visible(state_);
    mask = Region::read(reader_, Rect{window.top + draw_.origin.y, window.left + draw_.origin.x,
                                      window.bottom + draw_.origin.y, window.right + draw_.origin.x});
    mask.move_by(-draw_.origin.x, -draw_.origin.y);
    image.mask = &mask;
  }
  image.packed = opcode != 0x0090 && opcode != 0x0091;
  if (!canvas_->draw_pixels(reader_, image, state_))
    note(hex_opcode(opcode) + "/mode " + std::to_string(image.mode & ~kDitherFlag));
}

void PictureParser::draw(uint32_t opcode, uint32_t verb, const SpanRows &shape) {
  static const Pattern kInverting = Pattern::solid(true);
  bool drawn = true;
  switch (verb) {
    case kFrame: case kPaint: drawn = canvas_->fill(shape, draw_.pen_pattern, draw_.pen_mode, state_); break;
    case kErase: canvas_->fill(shape, draw_.background_pattern, kPatCopy, state_); break;
    case kInvert: canvas_->fill(shape, kInverting, kPatXor, state_); break;
    default: canvas_->fill(shape, draw_.fill_pattern, kPatCopy, state_); break;
  }
  if (!drawn) note(hex_opcode(opcode) + "/mode " + std::to_string(draw_.pen_mode & ~kDitherFlag));
}

void PictureParser::line(Point from, Point to) {
  draw_.pen = to;
  const SpanRows shape = line_spans(to_picture(from), to_picture(to), draw_.pen_size.x, draw_.pen_size.y,
                                    canvas_->visible(state_));
  draw(0x0020, kFrame, shape);
}

SpanRows PictureParser::region_shape(std::span<const uint8_t> region_bytes, uint32_t verb) {
  const Rect window = canvas_->visible(state_);
  Reader reader(region_bytes, "the region");
  Region region = Region::read(reader, Rect{window.top + draw_.origin.y, window.left + draw_.origin.x,
                                            window.bottom + draw_.origin.y, window.right + draw_.origin.x});
  region.move_by(-draw_.origin.x, -draw_.origin.y);
  SpanRows shape = region_spans(region, window);
  canvas_->spend(int64_t{window.width()} * std::max(shape.bottom() - shape.top(), 0));
  if (verb == kFrame) {
    canvas_->spend(int64_t{window.width()} * std::max(shape.bottom() - shape.top(), 0));
    shape = inner_edge(shape, draw_.pen_size.x, draw_.pen_size.y, window);
  }
  return shape;
}

// FontName: a length word, the old font ID, the name (a Pascal string).
void PictureParser::font_name() {
  const uint32_t length = reader_.u16();
  const std::span<const uint8_t> data = reader_.bytes(length);
  if (length < 3) return;
  const auto id = static_cast<int32_t>((uint32_t{data[0]} << 8) | data[1]);
  const size_t name_length = std::min<size_t>(data[2], length - 3);
  draw_.font_names.emplace_back(id, std::string(data.begin() + 3, data.begin() + 3 + static_cast<ptrdiff_t>(name_length)));
}

// LongText, DHText, DVText, DHDVText: the text location moves, then a
// count byte and the characters, drawn from it.
void PictureParser::text(Point location) {
  draw_.text_location = location;
  const uint32_t count = reader_.u8();
  const std::span<const uint8_t> characters = reader_.bytes(count);
  const int32_t size = draw_.text_size > 0 ? draw_.text_size : 12;
  std::string name;
  for (const auto &[id, font_name] : draw_.font_names)
    if (id == draw_.font) name = font_name;
  const uint32_t face = draw_.text_style.face & 0x7F;
  const FontFace *found = nullptr;
  if (font_file_ != nullptr && !file_fonts_) {
    file_fonts_ = std::make_unique<FontSet>();
    file_fonts_->add_from(font_file_);
  }
  if (file_fonts_) found = file_fonts_->find(draw_.font, name, size, face);
  if (found == nullptr) {
    if (!host_fonts_) host_fonts_ = host_fonts();
    found = host_fonts_->find(draw_.font, name, size, face);
  }
  if (found == nullptr) found = &builtin_font(size);
  TextStyle style = draw_.text_style;
  // A strike made for the style has it already.
  style.face = face & ~found->style;
  if (!is_drawn_mode(style.mode)) note(std::string("text/mode ") + std::to_string(style.mode & ~kDitherFlag));
  draw_text(*canvas_, state_, *found->strike, characters, to_picture(location), style, canvas_->visible(state_));
}

// Rectangles (0030), round rectangles (0040), ovals (0050), arcs (0060),
// polygons (0070) and regions (0080): the verb in the low three bits
// (5-7 are reserved), the "same" form with 8 added.
void PictureParser::shape_opcode(uint32_t op) {
  Reader &r = reader_;
  const uint32_t kind = op & 0xF0, verb = op & 7;
  const bool same = (op & 8) != 0;
  if (verb > kFill) {
    // Reserved: the data of their kind, nothing drawn.
    note(hex_opcode(op));
    if (same) {
      if (kind == 0x60) r.skip(4);
    } else if (kind == 0x60) {
      r.skip(12);
    } else if (kind == 0x70 || kind == 0x80) {
      const uint32_t size = r.u16();
      if (size < 2) throw DecodeError(hex_opcode(op) + " with a size of " + std::to_string(size));
      r.skip(size - 2);
    } else {
      r.skip(8);
    }
    return;
  }
  const Rect window = canvas_->visible(state_);
  const Point pen = draw_.pen_size;
  const bool pen_draws = pen.x > 0 && pen.y > 0;
  if (kind == 0x70) {
    if (!same) {
      const size_t start = r.position();
      const uint32_t size = r.u16();
      if (size < 10) throw DecodeError("polygon of " + std::to_string(size) + " bytes (at least 10)");
      r.need(size - 2);
      r.skip(8);  // the bounding box
      draw_.last_polygon.clear();
      for (uint32_t i = 0; i < (size - 10) / 4; ++i) draw_.last_polygon.push_back(read_point());
      r.seek(start + size);
    }
    std::vector<Point> points;
    for (const Point &p : draw_.last_polygon) points.push_back(to_picture(p));
    if (verb == kFrame) {
      if (!pen_draws) return;
      for (size_t i = 0; i + 1 < points.size(); ++i) {
        draw(op, kFrame, line_spans(points[i], points[i + 1], pen.x, pen.y, window));
      }
      return;
    }
    int64_t work = 0;
    const SpanRows shape = polygon_spans(points, window, work);
    canvas_->spend(work);
    draw(op, verb, shape);
    return;
  }
  if (kind == 0x80) {
    if (!same) {
      const size_t start = r.position();
      const uint32_t size = r.u16();
      if (size < 10) throw DecodeError("region of " + std::to_string(size) + " bytes (at least 10)");
      r.seek(start);
      const std::span<const uint8_t> bytes = r.bytes(size);
      draw_.last_region.assign(bytes.begin(), bytes.end());
    }
    if (draw_.last_region.empty()) return;  // no region yet
    if (verb == kFrame && !pen_draws) return;
    draw(op, verb, region_shape(draw_.last_region, verb));
    return;
  }
  if (!same) draw_.last_rect = read_rect(r);
  if (kind == 0x60) {  // both arc forms give their angles
    draw_.last_start = r.s16();
    draw_.last_arc = r.s16();
  }
  const Rect rect = to_picture(draw_.last_rect);
  if (verb == kFrame && !pen_draws) return;
  const Rect inner{rect.top + pen.y, rect.left + pen.x, rect.bottom - pen.y, rect.right - pen.x};
  SpanRows shape;
  switch (kind) {
    case 0x30:
      shape = rect_spans(rect, window);
      if (verb == kFrame && !inner.empty()) shape = subtract(shape, rect_spans(inner, window));
      break;
    case 0x40: {
      const int32_t ow = draw_.oval_size.x, oh = draw_.oval_size.y;
      shape = round_rect_spans(rect, ow, oh, window);
      if (verb == kFrame && !inner.empty())
        shape = subtract(shape, round_rect_spans(inner, ow - 2 * pen.x, oh - 2 * pen.y, window));
      break;
    }
    default:  // 0x50 ovals, 0x60 arcs
      shape = oval_spans(rect, window);
      if (verb == kFrame && !inner.empty()) shape = subtract(shape, oval_spans(inner, window));
      if (kind == 0x60) {
        canvas_->spend(shape.area());  // an angle for each pixel of the oval
        shape = wedge_of(shape, rect, draw_.last_start, draw_.last_arc);
      }
      break;
  }
  canvas_->spend(std::max(shape.bottom() - shape.top(), 0));
  draw(op, verb, shape);
}

bool PictureParser::step(uint32_t op) {
  Reader &r = reader_;
  if (op == format::kPictOpEndPic) return false;
  if (op >= 0x0100) {
    skip_data(op);
    if (op != format::kPictVersion2 && op != format::kPictHeaderOp) {
      note(op == 0x8200 || op == 0x8201 ? hex_opcode(op) + " (QuickTime)" : hex_opcode(op));
    }
    return true;
  }
  if (op >= 0x0030 && op <= 0x008F) {
    shape_opcode(op);
    return true;
  }
  switch (op) {
    case 0x0000: case 0x001C: case 0x001E: return true;
    case 0x0001: {
      state_.clip = Region::read(r, Rect{coordinates_.top + draw_.origin.y, coordinates_.left + draw_.origin.x,
                                         coordinates_.bottom + draw_.origin.y,
                                         coordinates_.right + draw_.origin.x});
      state_.clip.move_by(-draw_.origin.x, -draw_.origin.y);
      return true;
    }
    case 0x0002: case 0x0009: case 0x000A: {
      Pattern pattern;
      const std::span<const uint8_t> bytes = r.bytes(8);
      std::copy(bytes.begin(), bytes.end(), pattern.bits.begin());
      (op == 0x0002 ? draw_.background_pattern : op == 0x0009 ? draw_.pen_pattern : draw_.fill_pattern) = pattern;
      return true;
    }
    case 0x0003: draw_.font = static_cast<int32_t>(r.u16()); return true;
    case 0x0004: draw_.text_style.face = r.u8(); return true;
    case 0x0005: draw_.text_style.mode = r.u16(); return true;
    case 0x000D: draw_.text_size = r.s16(); return true;
    case 0x0016: draw_.text_style.char_extra = r.s16() * 16; return true;  // 4.12 fixed point
    case 0x0015: case 0x00A0: r.skip(2); return true;
    case 0x0006: draw_.text_style.space_extra = static_cast<int32_t>(r.u32()); return true;
    case 0x0028: text(read_point()); return true;
    case 0x0029: text(Point{draw_.text_location.x + static_cast<int32_t>(r.u8()), draw_.text_location.y}); return true;
    case 0x002A: text(Point{draw_.text_location.x, draw_.text_location.y + static_cast<int32_t>(r.u8())}); return true;
    case 0x002B: {
      const auto dh = static_cast<int32_t>(r.u8());
      text(Point{draw_.text_location.x + dh, draw_.text_location.y + static_cast<int32_t>(r.u8())});
      return true;
    }
    case 0x002C: font_name(); return true;
    case 0x0007: draw_.pen_size = read_point(); return true;
    case 0x0008: draw_.pen_mode = r.u16(); return true;
    case 0x000B: draw_.oval_size = read_point(); return true;
    case 0x000C: {
      // Origin: the local coordinates move by (dh, dv).
      const int32_t dh = r.s16(), dv = r.s16();
      draw_.origin.x += dh, draw_.origin.y += dv;
      return true;
    }
    case 0x000E: state_.foreground = old_colour(r.u32()); return true;
    case 0x000F: state_.background = old_colour(r.u32()); return true;
    case 0x0010: r.skip(8); return true;
    case 0x0011: r.skip(version_2_ ? 2 : 1); return true;
    case 0x0012: draw_.background_pattern = read_pixel_pattern(); return true;
    case 0x0013: draw_.pen_pattern = read_pixel_pattern(); return true;
    case 0x0014: draw_.fill_pattern = read_pixel_pattern(); return true;
    case 0x001A: state_.foreground = read_rgb(r); return true;
    case 0x001B: state_.background = read_rgb(r); return true;
    case 0x001D: state_.hilite = read_rgb(r); return true;
    case 0x001F: {
      const uint32_t red = r.u16(), green = r.u16(), blue = r.u16();
      state_.op_colour = Rgb16{red, green, blue};
      return true;
    }
    case 0x0020: {
      const Point from = read_point();
      line(from, read_point());
      return true;
    }
    case 0x0021: line(draw_.pen, read_point()); return true;
    case 0x0022: {
      const Point from = read_point();
      const auto dh = static_cast<int8_t>(r.u8()), dv = static_cast<int8_t>(r.u8());
      line(from, Point{from.x + dh, from.y + dv});
      return true;
    }
    case 0x0023: {
      const auto dh = static_cast<int8_t>(r.u8()), dv = static_cast<int8_t>(r.u8());
      line(draw_.pen, Point{draw_.pen.x + dh, draw_.pen.y + dv});
      return true;
    }
    case 0x002D: case 0x002E: r.skip(r.u16()); return true;
    case 0x00A1: r.skip(2); r.skip(r.u16()); return true;
    case 0x0090: case 0x0091: case 0x0098: case 0x0099: case 0x009A: case 0x009B: bits(op); return true;
    default: break;
  }
  // Everything else is skipped by its length rule and reported.
  note(hex_opcode(op));
  skip_data(op);
  return true;
}

// Steps over an opcode's data by the rule its range was given.
void PictureParser::skip_data(uint32_t op) {
  const format::PictDataLength length = format::pict_data_length(op);
  switch (length.rule) {
    case format::PictDataRule::kFixed: reader_.skip(length.bytes); break;
    case format::PictDataRule::kWordLength: reader_.skip(reader_.u16()); break;
    case format::PictDataRule::kLongLength: reader_.skip(reader_.u32()); break;
    case format::PictDataRule::kSized:
    case format::PictDataRule::kOwn: break;  // read by the opcode's own code
  }
}

Canvas PictureParser::run(std::string &notes) {
  read_header();
  canvas_ = std::make_unique<PictureCanvas>(frame_, coordinates_, kWorkPerCanvasPixel);
  bool ended = false;
  while (!ended) {
    if (version_2_ && reader_.position() % 2 != 0) reader_.skip(1);
    if (reader_.remaining() == 0) throw DecodeError("the picture ends before its end opcode");
    const size_t at = reader_.position();
    const uint32_t opcode = version_2_ ? reader_.u16() : reader_.u8();
    reader_.set_what("opcode " + hex_opcode(opcode) + " at offset " + std::to_string(at));
    try {
      ended = !step(opcode);
    } catch (const WorkExhausted &) {
      // What is drawn so far is kept; the reason leads the notes so that
      // it is never cut off.
      skipped_.insert(skipped_.begin(), "everything from opcode " + hex_opcode(opcode) + " at offset " +
                                            std::to_string(at) + " (drawing work limit)");
      break;
    } catch (const DecodeError &failure) {
      const std::string reason = failure.what();
      // The reader's own message already names the opcode.
      if (reason.rfind("opcode ", 0) == 0) throw;
      throw DecodeError("opcode " + hex_opcode(opcode) + " at offset " + std::to_string(at) + ": " + reason);
    }
    reader_.set_what("the picture");
  }
  notes.clear();
  if (!skipped_.empty()) {
    notes = "not drawn:";
    for (const std::string &what : skipped_) {
      if (notes.size() + 1 + what.size() > kErrorRoom - 4) {
        notes += " ...";
        break;
      }
      notes += " " + what;
    }
  }
  return std::move(canvas_->canvas());
}

}  // namespace

Canvas decode_picture(std::span<const uint8_t> data, std::string &notes, MacBinChannel *font_file) {
  PictureParser parser(data, font_file);
  return parser.run(notes);
}

}  // namespace varnel::decode
