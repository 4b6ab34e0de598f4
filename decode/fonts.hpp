// Private to decode/: bitmap fonts for drawing text.  A strike is a FONT
// or NFNT resource (one size of one style of a family); a font set holds
// the strikes of some files, by family and size, with the names their FOND
// resources (or the size-0 FONT) give the families.
//
//   FONT, NFNT   0 fontType  2 firstChar  4 lastChar  6 widMax  8 kernMax
//                10 nDescent (NFNT: when positive, the high word of owTLoc)
//                12 fRectWidth  14 fRectHeight  16 owTLoc (words from here
//                to the offset/width table)  18 ascent  20 descent
//                22 leading  24 rowWords; 26 the strike: fRectHeight rows
//                of rowWords words, the glyphs side by side; then the
//                location table (lastChar - firstChar + 3 words: where
//                each glyph's columns start, and the end) and the
//                offset/width table (as many words: high byte the offset of
//                the glyph's image from the pen plus kernMax, low byte the
//                advance; FFFF: no glyph).  The glyph after lastChar is the
//                one drawn for missing characters.
//   FOND         0 flags  2 family ID ... 52 the association table: a count
//                less one, then (size, style, resource ID) for each strike.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/internal.hpp"

namespace varnel::decode {

class FontStrike {
 public:
  // Checks every table against the data; throws DecodeError when one lies
  // outside it.
  explicit FontStrike(std::vector<uint8_t> data);

  struct Glyph {
    int32_t image_left = 0;  // first column in the strike
    int32_t image_width = 0;
    int32_t offset = 0;      // of its image from the pen (kernMax included)
    int32_t advance = 0;
  };
  // The glyph of character `c` (the missing glyph when it has none).
  Glyph glyph(uint8_t c) const;
  bool pixel(int32_t column, int32_t row) const {
    const size_t at = image_offset_ + static_cast<size_t>(row) * row_bytes_ + static_cast<size_t>(column) / 8;
    return ((data_[at] >> (7 - column % 8)) & 1) != 0;
  }
  int32_t ascent() const { return ascent_; }
  int32_t descent() const { return descent_; }
  int32_t height() const { return height_; }

 private:
  std::vector<uint8_t> data_;
  int32_t first_ = 0, last_ = 0, kern_max_ = 0, ascent_ = 0, descent_ = 0, height_ = 0;
  size_t row_bytes_ = 0, image_offset_ = 0, locations_ = 0, offsets_widths_ = 0;
  int32_t image_width_ = 0;  // columns in the strike
};

// Text styles (TxFace bits).
enum FontStyle : uint32_t {
  kBold = 1, kItalic = 2, kUnderline = 4, kOutline = 8, kShadow = 16, kCondense = 32, kExtend = 64,
};

struct FontFace {
  int32_t family = 0;
  std::string family_name;  // as the file names it (MacRoman)
  int32_t size = 0;
  uint32_t style = 0;
  std::shared_ptr<const FontStrike> strike;
};

class FontSet {
 public:
  // Takes the FONT and NFNT strikes of a reading channel, with its FOND
  // families; strikes that cannot be read are left out.  Returns how many
  // were taken.
  int32_t add_from(MacBinChannel *channel);
  void add(FontFace face) { faces_.push_back(std::move(face)); }
  bool empty() const { return faces_.empty(); }
  // The strike for a family (by ID, or by name when `name` is not empty),
  // the size nearest `size` (an exact style first, then plain); null when
  // the family is not here.
  const FontFace *find(int32_t family, std::string_view name, int32_t size, uint32_t style) const;

 private:
  std::vector<FontFace> faces_;
};

// The strike drawn when no file has the font: public-domain fixed-width
// fonts of several sizes, the one nearest `size`.
const FontFace &builtin_font(int32_t size);

// The fonts hosts gave with MacBin_AddFontFile (shared, read under a lock).
std::shared_ptr<const FontSet> host_fonts();

// FONT and NFNT resources as an image: the strike's characters from '!'
// to '~' in a row, black on white.
Canvas decode_font_sample(std::span<const uint8_t> data);

}  // namespace varnel::decode
