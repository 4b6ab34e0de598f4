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

namespace varnel::decode {
namespace {

constexpr uint32_t kEndOfPicture = 0x00FF;
constexpr uint32_t kExtendedHeaderVersion = 0xFFFE;
constexpr uint32_t kHeaderOpcode = 0x0C00;
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

class PictureParser {
 public:
  explicit PictureParser(std::span<const uint8_t> data) : reader_(data, "the picture") {}

  Canvas run(std::string &notes);

 private:
  void read_header();
  // Reads one opcode's data, drawing what is drawn.  False at the end.
  bool step(uint32_t opcode);
  void skip_text(size_t before_count);
  void skip_pixel_pattern();
  void bits(uint32_t opcode);
  void note(const std::string &what);

  Reader reader_;
  bool version_2_ = false;
  Rect frame_;
  Rect coordinates_;
  std::unique_ptr<PictureCanvas> canvas_;
  PortState state_;
  std::vector<std::string> skipped_;
};

void PictureParser::note(const std::string &what) {
  if (std::find(skipped_.begin(), skipped_.end(), what) == skipped_.end()) skipped_.push_back(what);
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
  coordinates_ = frame_;
  // An extended version 2 header gives the rectangle of the picture's own
  // coordinates (at its resolution); it is drawn onto the frame, at 72 dpi.
  if (version_2_ && reader_.remaining() >= 2 + 24 && reader_.all()[reader_.position()] == 0x0C &&
      reader_.all()[reader_.position() + 1] == 0x00) {
    reader_.skip(2);
    const uint32_t header_version = reader_.u16();
    if (header_version == kExtendedHeaderVersion) {
      reader_.skip(2 + 4 + 4);  // reserved, horizontal and vertical resolution
      const Rect source = read_rect(reader_);
      reader_.skip(4);
      if (!source.empty()) coordinates_ = source;
    } else {
      reader_.skip(22);
    }
  }
}

void PictureParser::skip_text(size_t before_count) {
  reader_.skip(before_count);
  reader_.skip(reader_.u8());
}

void PictureParser::skip_pixel_pattern() {
  const uint32_t type = reader_.u16();
  reader_.skip(8);
  if (type == 2) {
    reader_.skip(6);
  } else if (type == 1) {
    const PixelMap map = read_pixel_map(reader_, true);
    check_pixel_map(map, "pixel pattern");
    const ColorTable table = read_color_table(reader_);
    PixelRows rows(map, &table, true, kBlack, kWhite);
    std::vector<Rgba> row(static_cast<size_t>(map.bounds.width()));
    for (int32_t y = 0; y < map.bounds.height(); ++y) rows.next(reader_, row);
  } else if (type != 0) {
    throw DecodeError("pixel pattern of type " + std::to_string(type));
  }
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
  image.destination = read_rect(reader_);
  image.mode = reader_.u16();
  Region mask;
  if (region) {
    mask = Region::read(reader_, coordinates_);
    image.mask = &mask;
  }
  image.packed = opcode != 0x0090 && opcode != 0x0091;
  if (!canvas_->draw_pixels(reader_, image, state_))
    note(hex_opcode(opcode) + "/mode " + std::to_string(image.mode & ~kDitherFlag));
}

bool PictureParser::step(uint32_t op) {
  Reader &r = reader_;
  if (op == kEndOfPicture) return false;
  if (op >= 0x0100) {
    if (op == 0x02FF) {
      r.skip(2);
    } else if (op <= 0x7FFF) {
      r.skip((op >> 8) * 2);
      if (op != kHeaderOpcode) note(hex_opcode(op));
    } else if (op <= 0x80FF) {
      note(hex_opcode(op));
    } else {
      r.skip(r.u32());
      note(hex_opcode(op));
    }
    return true;
  }
  switch (op) {
    case 0x0000: case 0x001C: case 0x001E: return true;
    case 0x0001: state_.clip = Region::read(r, coordinates_); return true;
    case 0x0004: r.skip(1); return true;
    case 0x0003: case 0x0005: case 0x0008: case 0x000D: case 0x0015: case 0x0016: case 0x00A0:
      r.skip(2); return true;
    case 0x0006: case 0x0007: case 0x000B: r.skip(4); return true;
    case 0x000E: state_.foreground = old_colour(r.u32()); return true;
    case 0x000F: state_.background = old_colour(r.u32()); return true;
    case 0x0002: case 0x0009: case 0x000A: case 0x0010: r.skip(8); return true;
    case 0x0011: r.skip(version_2_ ? 2 : 1); return true;
    case 0x0012: case 0x0013: case 0x0014: skip_pixel_pattern(); return true;
    case 0x001A: state_.foreground = read_rgb(r); return true;
    case 0x001B: state_.background = read_rgb(r); return true;
    case 0x001D: case 0x001F: r.skip(6); return true;
    case 0x002C: case 0x002D: case 0x002E: r.skip(r.u16()); return true;
    case 0x00A1: r.skip(2); r.skip(r.u16()); return true;
    case 0x0090: case 0x0091: case 0x0098: case 0x0099: case 0x009A: case 0x009B: bits(op); return true;
    default: break;
  }
  // Everything else is skipped and reported.
  note(hex_opcode(op));
  if (op == 0x000C || op == 0x0021 || (op >= 0x0068 && op <= 0x006F)) r.skip(4);
  else if (op == 0x0022) r.skip(6);
  else if (op == 0x0023) r.skip(2);
  else if (op == 0x0020 || (op >= 0x0030 && op <= 0x0037) || (op >= 0x0040 && op <= 0x0047) ||
           (op >= 0x0050 && op <= 0x0057)) r.skip(8);
  else if (op >= 0x0060 && op <= 0x0067) r.skip(12);
  else if (op == 0x0028) skip_text(4);
  else if (op == 0x0029 || op == 0x002A) skip_text(1);
  else if (op == 0x002B) skip_text(2);
  else if ((op >= 0x0024 && op <= 0x0027) || op == 0x002F || (op >= 0x0092 && op <= 0x0097) ||
           (op >= 0x009C && op <= 0x009F) || (op >= 0x00A2 && op <= 0x00AF)) r.skip(r.u16());
  else if (op >= 0x00D0 && op <= 0x00FE) r.skip(r.u32());
  else if ((op >= 0x0070 && op <= 0x0077) || (op >= 0x0080 && op <= 0x0087)) {
    // Polygons and regions: a size word that counts itself.
    const uint32_t size = r.u16();
    if (size < 2) throw DecodeError(hex_opcode(op) + " with a size of " + std::to_string(size));
    r.skip(size - 2);
  }
  // The rest (0017-0019, the "same" shapes, 00B0-00CF) have no data.
  return true;
}

Canvas PictureParser::run(std::string &notes) {
  read_header();
  canvas_ = std::make_unique<PictureCanvas>(frame_, coordinates_);
  bool ended = false;
  while (!ended) {
    if (version_2_ && reader_.position() % 2 != 0) reader_.skip(1);
    if (reader_.remaining() == 0) throw DecodeError("the picture ends before its end opcode");
    const size_t at = reader_.position();
    const uint32_t opcode = version_2_ ? reader_.u16() : reader_.u8();
    reader_.set_what("opcode " + hex_opcode(opcode) + " at offset " + std::to_string(at));
    try {
      ended = !step(opcode);
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

Canvas decode_picture(std::span<const uint8_t> data, std::string &notes) {
  PictureParser parser(data);
  return parser.run(notes);
}

}  // namespace varnel::decode
